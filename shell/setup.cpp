#include "shell/setup.h"

#include "media/audio.h"
#include "media/system.h"
#include "shell/log.h"
#include "shell/startup.h"

int Settings[100];
int Keys[101];
std::vector<std::string> AudioDriverNames;

void SetDefaultSettings() {
    Keys[0] = 38;   // up
    Keys[3] = 37;   // left
    Keys[5] = 39;   // right
    Keys[8] = 40;   // down
    Keys[10] = 90;  // Z
    Keys[11] = 88;  // X
    Keys[12] = 67;  // C
    Keys[13] = 86;  // V
    Settings[5] = 800;
    Settings[6] = 600;
    Settings[1] = 0;
    Settings[7] = 0;
    Settings[11] = Settings[12] = Settings[13] = 50;
}

// ------------------------------------------------------ audio back end ---

namespace {
AudioInstaller RealInstaller() {
    AudioInstaller a;
    a.exists = [](const std::string& n) { return AudioDriverExists(n); };
    a.set = [](const std::string& n) { return SetAudioDriver(n); };
    a.enableOpenAL = [] { return EnableOpenALDevices(); };
    return a;
}
AudioInstaller g_installer = RealInstaller();
}  // namespace

void SetAudioInstaller(const AudioInstaller& installer) { g_installer = installer; }
void ResetAudioInstaller() { g_installer = RealInstaller(); }

int DefaultAudioDriverIndex(const std::vector<std::string>& names) {
    int choice = -1;
    for (size_t i = 0; i < names.size(); i++) {
        std::string up = UpperText(names[i]);
        if (up.rfind("OPENAL", 0) == 0 && choice < 0) choice = (int)i;
        else if (up.rfind("FREE", 0) == 0 && choice < 0) choice = (int)i;
        else if (up.rfind("DIRECT", 0) == 0) choice = (int)i;
    }
    return choice;
}

// ---------------------------------------------------------------- reading ---

namespace {
int Number(const std::string& value) { return AbsInt(TextToInt(value)); }

void ApplySetupLine(const std::string& line, bool& driverNamed) {
    std::string key = UpperText(TrimText(FieldOf(line, "=", 1)));
    std::string value = TrimText(FieldOf(line, "=", 2));
    std::string upValue = UpperText(value);
    if (key == "AUDIODRIVER") {
        driverNamed = true;
        for (size_t i = 0; i < AudioDriverNames.size(); i++)
            if (AudioDriverNames[i] == value) Settings[14] = (int)i;
    }
    if (key == "FULLSCREEN") {
        if (upValue == "TRUE" || upValue == "ON") {
            Settings[1] = 1;
            LogLine("\tSetting to Fullscreen");
        }
    }
    if (key == "GFX ENGINE" || key == "GFXENGINE") {
        if (upValue == "DX9") {
            Settings[3] = 1;
            LogLine("\tDirectX 9 Mode");
        } else if (upValue == "DX7") {
            Settings[3] = 2;
            LogLine("\tDirectX 7 Mode");
        }
    }
    if (key == "WIDTH") Settings[5] = Number(value);
    if (key == "HEIGHT") Settings[6] = Number(value);
    if (key == "ESS") {
        Settings[7] = 1;
        LogLine("\tAssuming Emergency Slow System values.");
    }
    if (key == "KEY") {
        int slot = Number(FieldOf(value, ",", 1));
        int code = Number(FieldOf(value, ",", 2));
        if (slot >= 0 && slot <= 99) Keys[slot] = code;
    }
    if (key == "MASTER") Settings[11] = Number(value);
    if (key == "SOUND") Settings[12] = Number(value);
    if (key == "MUSIC") Settings[13] = Number(value);
}
}  // namespace

void LoadSetup() {
    bool driverNamed = false;
    if (FileType("Setup.ini") != 0) {
        TStream* in = ReadFile("Setup.ini");
        LogLine("\tReading Setup File");
        if (in) {
            // At least one line is read, so an empty file is one empty line.
            do {
                ApplySetupLine(ReadLine(in), driverNamed);
            } while (!EndOfStream(in));
            CloseStream(in);
        }
    }
    if (!driverNamed) {
        int d = DefaultAudioDriverIndex(AudioDriverNames);
        if (d >= 0) Settings[14] = d;
    }

    LogLine("Setting Audio Driver");
    int slot = Settings[14];
    if (slot >= 0 && (size_t)slot < AudioDriverNames.size()) {
        const std::string& name = AudioDriverNames[slot];
        if (g_installer.exists && g_installer.exists(name)) {
            bool openal = UpperText(name).rfind("OPENAL", 0) == 0;
            if (!openal || (g_installer.enableOpenAL && g_installer.enableOpenAL())) {
                if (g_installer.set) g_installer.set(name);
            }
        }
    }
    LogLine("Set Audio Driver");
    LogLine("");
    LogLine("\tRequested Resolution : " + std::to_string(Settings[5]) + "x" +
            std::to_string(Settings[6]));
    LogLine("\tSetup Loaded");
    LogLine("");
}

// ---------------------------------------------------------------- writing ---

std::vector<std::string> SetupFileLines() {
    std::vector<std::string> l;
    l.push_back("[Graphics]");
    if (Settings[1] == 0) l.push_back("Fullscreen = False");
    else if (Settings[1] == 1) l.push_back("Fullscreen = True");
    if (Settings[3] == 0) l.push_back("GFX Engine = OpenGL");
    else if (Settings[3] == 1) l.push_back("GFX Engine = DX9");
    else if (Settings[3] == 2) l.push_back("GFX Engine = DX7");
    l.push_back("Width=" + std::to_string(Settings[5]));
    l.push_back("Height=" + std::to_string(Settings[6]));
    if (Settings[7] == 1)
        l.push_back("ESS=1 ; This is a slow system, and things must run a wee bit slower for it.  Awww..");
    l.push_back("");
    l.push_back("[Audio]");
    l.push_back("Master = " + std::to_string(Settings[11]));
    l.push_back("Sound = " + std::to_string(Settings[12]));
    l.push_back("Music = " + std::to_string(Settings[13]));
    std::string chosen;
    if (Settings[14] >= 0 && (size_t)Settings[14] < AudioDriverNames.size())
        chosen = AudioDriverNames[Settings[14]];
    l.push_back("AudioDriver = " + chosen);
    for (const std::string& name : AudioDriverNames) l.push_back("; AudioDriver = " + name);
    l.push_back("");
    l.push_back("[Controls]");
    for (int slot = 0; slot <= 99; slot++)
        if (Keys[slot] > 0) l.push_back("Key=" + std::to_string(slot) + "," + std::to_string(Keys[slot]));
    return l;
}

bool WriteSetupHere() {
    std::vector<std::string> lines = SetupFileLines();
    // Written to a temporary file and renamed over the old one, so a crash
    // or a full disk never leaves a truncated "Setup.ini" behind.
    if (WriteFileAtomically("Setup.ini", lines.data(), (int)lines.size())) return true;
    LogLine("\tCould not write Setup.ini; the previous file is kept.");
    return false;
}

bool InDataFolder(const char* unreachable, bool (*write)()) {
    // The program works in the week's folder; the settings files lie one up.
    if (!ChangeDir("..")) {
        LogLine(unreachable);
        return false;
    }
    bool ok = write();
    ChangeDir(std::to_string(WeekNumber) + "/");
    return ok;
}

bool SaveSetup() {
    return InDataFolder("\tCould not reach the folder of Setup.ini; settings not saved.", WriteSetupHere);
}
