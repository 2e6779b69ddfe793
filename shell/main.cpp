#include "shell/startup.h"

// RunProgram returns only when start-up fails or for --help; the end goes
// through the same door as ShutDown's, so a page shows it too.
int main(int argc, char** argv) { EndProcess(RunProgram(argc, argv)); }
