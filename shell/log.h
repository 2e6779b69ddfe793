// The progress log "Debug.txt": plain lines, CR LF, recreated on every start.
#pragma once
#include <string>

// Opens (creates or truncates) the log in the working folder and writes the
// start banner. Returns false when the file cannot be created; LogLine then
// writes nothing.
bool OpenLog(const std::string& path = "Debug.txt");
void LogLine(const std::string& text);
void CloseLog();
// When set, every log line is also echoed to standard error (debug aid).
void SetLogEcho(bool on);
