#include "shell/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iostream>

#include "game/assets.h"
#include "game/assist.h"
#include "game/steer.h"
#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/online.h"
#include "services/scores.h"
#include "shell/datafolder.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/gamejournal.h"
#include "shell/log.h"
#include "shell/replay.h"
#include "shell/setup.h"
#include "shell/title.h"

const std::string GameTitle = "Wormlob 2";
const std::string GameTagline = "Bat the Pods, Net the Prize";

std::string AppTitle() {
    return "#" + std::to_string(WeekNumber) + " : " + GameTitle + " " + GameTagline;
}

int CurrentMode = 1;
int PlayState;
int GameStartTime;
int MouseGame = 1;
int MaxPlayers = 4;
int SplashDeadline;
SoundRef TitleMusic;

std::string Credits[100];
int CreditCount;

int JoyCount;
std::string JoyNames[5];
int JoyButtons[5];
int JoyEnabled[5];
int JoyHatCentred[5];
float JoyRest[6][5];

ProgramOptions Options;

void FillCredits() {
    static const char* lines[] = {
        "A Game by Brannoc",
        "README.md | docs/ASSETS.md",
        "",
        "Game",
        "Made in C++20 with SDL2 and OpenGL",
        "using Brannoc's Framework",
        "",
        "Net idea from the Wormlob 2 team",
        "Other suggestions from",
        "the team's playtesters",
        "and everyone who tried it",
        "",
        "Graphics",
        "Font : Quicksand, Andrew Paglinawan",
        "Font : Roboto Condensed by Google",
        "Font : Leckerli One by Gesine Todt",
        "All other graphics by Brannoc",
        "",
        "Sound",
        "Title Music by Brannoc",
        "Sound Effects by Brannoc",
    };
    CreditCount = 0;
    for (const char* l : lines) Credits[++CreditCount] = l;
}

std::string UsageText() {
    return "Usage: wormlob2 [options]\n"
           "  --help              show this text\n"
           "  --headless          no window: the null drawing back end (logic, files and log as usual)\n"
           "  --headless-size WxH the headless display mode (default 1280x960; 1600x900 is widescreen)\n"
           "  --virtual-clock     a virtual clock: pacing costs no wall time, runs are repeatable\n"
           "  --input FILE        scripted input: one timed event per line (see README)\n"
           "  --frames N          end the program (as Escape would) at the N-th frame\n"
           "  --files DIR         use DIR instead of ./Files as the data folder\n"
           "  --grab N:FILE       save frame N's picture as a PNG file (repeatable; 0 is the splash)\n"
           "  --record FILE       journal the run (clock readings, input) so that it can be replayed\n"
           "  --replay FILE|URL   run a journaled run, or one game's journal (418/games/*.w2g, or\n"
           "                      a score server's address of one), again exactly: headless (a game\n"
           "                      journal is verified) or watched\n"
           "  --checksums FILE    write the game state's checksum at the end of every frame\n"
           "  --autoplay          a built-in player plays game after game (a demo)\n"
           "  --mode M            start with mode M selected: easy, medium or hard\n"
           "  --seed N            start the random generator at N (0 or more)\n"
           "  --games N           end the program (as Escape would) after N finished games\n"
           "  --test-load N       hold the start-up performance test at N sprites for 70 frames\n"
           "                      (measuring frame times at a fixed load)\n"
           "  --scores-server URL send each finished game to this score server from now on\n"
           "                      (kept in Online.ini; \"off\" stops sending)\n"
           "  --autoplay-steer S  the demo player steers with the mouse (default), keys or stick\n"
           "  --assist            colour symbols on the pods for this run (F8 turns them on and off)\n"
           "  --virtual-pad       the input script's pad lines work an SDL virtual game controller\n"
           "  --daily             play today's Daily Challenge of the score server in the --mode\n"
           "                      chosen, as soon as its token is there (needs sending on)\n";
}

// The place of v among an option's words, or -1.
static int IndexOfName(const std::string& v, std::initializer_list<const char*> names) {
    int i = 0;
    for (const char* n : names) {
        if (v == n) return i;
        i++;
    }
    return -1;
}

bool ParseOptions(int argc, char** argv, bool& wantHelp) {
    wantHelp = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::cerr << "wormlob2: " << a << " needs a value\n";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            wantHelp = true;
        } else if (a == "--headless") {
            Options.headless = true;
        } else if (a == "--virtual-clock") {
            Options.virtualClock = true;
        } else if (a == "--input") {
            if (!next(v)) return false;
            // Made absolute now: the program changes folders before reading it.
            Options.inputScript = std::filesystem::absolute(v).string();
        } else if (a == "--frames") {
            if (!next(v)) return false;
            Options.frames = TextToLong(v);
            if (Options.frames <= 0) {
                std::cerr << "wormlob2: --frames needs a positive number\n";
                return false;
            }
        } else if (a == "--headless-size") {
            if (!next(v)) return false;
            int w = 0, h = 0;
            if (std::sscanf(v.c_str(), "%dx%d", &w, &h) != 2 || w < 320 || h < 200 || w > 16384 || h > 16384) {
                std::cerr << "wormlob2: --headless-size wants WIDTHxHEIGHT\n";
                return false;
            }
            Options.headlessWidth = w;
            Options.headlessHeight = h;
        } else if (a == "--grab") {
            if (!next(v)) return false;
            size_t colon = v.find(':');
            long long n = colon == std::string::npos ? 0 : TextToLong(v.substr(0, colon));
            if (colon == std::string::npos || n < 0 || colon + 1 >= v.size()) {
                std::cerr << "wormlob2: --grab wants FRAME:FILE\n";
                return false;
            }
            Options.grabs.push_back({n, std::filesystem::absolute(v.substr(colon + 1)).string()});
        } else if (a == "--record" || a == "--replay" || a == "--checksums") {
            if (!next(v)) return false;
            std::string& file = a == "--record" ? Options.recordFile
                                : a == "--replay" ? Options.replayFile
                                                  : Options.checksumFile;
            if (a == "--replay" && IsWebAddress(v)) {
                // A game from a score server's leaderboard, to watch.
                std::string error;
                if (!FetchToTempFile(v, file, error)) {
                    std::cerr << "wormlob2: --replay " << v << ": " << error << "\n";
                    return false;
                }
                Options.replayUrl = v;
                continue;
            }
            file = std::filesystem::absolute(v).string();
        } else if (a == "--files") {
            if (!next(Options.filesDir)) return false;
        } else if (a == "--scores-server") {
            if (!next(v)) return false;
            if (v != "off" && ServerAddress(v).empty()) {
                std::cerr << "wormlob2: --scores-server wants an http:// or https:// address, or off\n";
                return false;
            }
            Options.scoresServer = v;
        } else if (a == "--autoplay") {
            Options.autoplay = true;
        } else if (a == "--autoplay-steer") {
            if (!next(v)) return false;
            Options.autoplaySteer = IndexOfName(v, {"mouse", "keys", "stick"});
            if (Options.autoplaySteer < 0) {
                std::cerr << "wormlob2: --autoplay-steer wants mouse, keys or stick\n";
                return false;
            }
        } else if (a == "--assist") {
            Options.assist = true;
        } else if (a == "--virtual-pad") {
            Options.virtualPad = true;
        } else if (a == "--mode") {
            if (!next(v)) return false;
            Options.mode = IndexOfName(v, {"easy", "medium", "hard"});
            if (Options.mode < 0) {
                std::cerr << "wormlob2: --mode wants easy, medium or hard\n";
                return false;
            }
        } else if (a == "--seed" || a == "--games") {
            if (!next(v)) return false;
            bool digits = !v.empty() && v.size() < 10 && v.find_first_not_of("0123456789") == std::string::npos;
            long long n = digits ? TextToLong(v) : -1;
            if (n < 0 || (a == "--games" && n == 0)) {
                std::cerr << "wormlob2: " << a << " needs a " << (a == "--games" ? "positive" : "whole") << " number\n";
                return false;
            }
            (a == "--seed" ? Options.seed : Options.games) = n;
        } else if (a == "--daily") {
            Options.daily = true;
        } else if (a == "--test-load") {
            if (!next(v)) return false;
            bool digits = !v.empty() && v.size() < 6 && v.find_first_not_of("0123456789") == std::string::npos;
            long long n = digits ? TextToLong(v) : 0;
            if (n < 1 || n > 20000) {
                std::cerr << "wormlob2: --test-load wants a number of sprites from 1 to 20000\n";
                return false;
            }
            Options.testLoad = (int)n;
        } else {
            std::cerr << "wormlob2: unknown option " << a << "\n" << UsageText();
            return false;
        }
    }
    // A daily challenge is played from the server's seed, by a player.
    if (Options.daily && (Options.seed >= 0 || Options.autoplay || !Options.replayFile.empty())) {
        std::cerr << "wormlob2: --daily plays the server's seed, and goes with neither --seed, --autoplay nor --replay\n";
        return false;
    }
    // The script is read and checked now, before anything is opened, so a
    // typo in it stops the run with nothing to tidy up.
    std::string error;
    if (!Options.inputScript.empty() && !ReadInputScript(Options.inputScript, Options.script, error)) {
        std::cerr << "wormlob2: input script " << Options.inputScript << ": " << error << "\n";
        return false;
    }
    return CheckJournalOptions();
}

void PlayMusicOnSlot(const SoundRef& sound, int slot) {
    // A missing music file leaves the slot empty rather than holding a
    // silent channel that would be re-made every frame.
    PlayOnSlot(slot, sound);
}

namespace {
int g_escapeLatch = 0;

void EnumerateJoysticks() {
    // Headless input comes only from scripts, and the demo player makes its
    // own. The count is still asked for, so that a journal holds it whether
    // or not the run had a window.
    if (Options.headless || Options.autoplay) IgnoreJoysticks();
    // The demo player alone works the pointer; keys still reach the program
    // so that a watcher can leave (Escape) or take a screenshot.
    IgnorePlatformPointer(Options.autoplay);
    JoyCount = 0;
    CountJoysticksAgain();
    if (Options.virtualPad) UseVirtualPad();
    SetPollHook(SteerPollHook);
}
}  // namespace

void CountJoysticksAgain() {
    // The joysticks already listed keep their rest positions and their
    // enabled switches (a stick held while another pad arrives must not
    // become its rest); a new one is read as at the start.
    int known = JoyCount;
    JoyCount = JoystickCount();
    if (JoyCount > 4) JoyCount = 4;
    for (int j = 1; j <= JoyCount; j++) {
        int port = j - 1;
        JoyButtons[j] = JoystickButtonMask(port);
        JoyNames[j] = JoystickName(port);
        if (j <= known) continue;
        JoyRest[0][j] = JoystickX(port);
        JoyRest[1][j] = JoystickY(port);
        JoyRest[2][j] = JoystickZ(port);
        JoyRest[3][j] = JoystickR(port);
        JoyRest[4][j] = JoystickU(port);
        JoyRest[5][j] = JoystickV(port);
        JoyEnabled[j] = 1;
        JoyHatCentred[j] = JoystickHat(port) == -1 ? 1 : 0;
    }
}

void WaitUntilMs(int deadline) {
    // Pumps input and sleeps a millisecond per turn: no spinning, and the
    // virtual clock advances here too.
    while (!MsReached(Millisecs(), deadline)) {
        PumpInput();
        SleepMs(1);
    }
}

// One whole game, started from the title's button: the title music stops,
// and on return the title slides in again with its latches set.
void StartGameFromTitle() {
    BeginGameJournal();
    if (Channels[1] && Channels[1]->Playing()) {
        Channels[1]->Stop();
        Channels[1].reset();
    }
    PlayState = 1;
    GameStartTime = Millisecs();
    RunGame();
    PlayState = 0;
    static long long gamesPlayed = 0;
    if (Options.games > 0 && ++gamesPlayed >= Options.games) ShutDown();
    g_escapeLatch = 1;
    StartLatch = 1;
    SlideIn = 0;
    ResetScoreView();
}

void ShutDown() {
    int status = EndRunJournal();
    SaveSetup();
    WriteScoreFile();
    LogLine("Closing Up");
    LogLine("");
    LogLine("Bye!");
    LogLine("");
    LogLine("Play again, soon!!");
    CloseDisplay();
    CloseLog();
    ShutdownAudio();
    // No static destructors: the audio thread and the platform libraries are
    // already shut down, and nothing else needs tearing down.
    EndProcess(status);
}

int StartProgram(int argc, char** argv) {
    bool wantHelp = false;
    if (!ParseOptions(argc, argv, wantHelp)) return 2;
    if (wantHelp) {
        std::cout << UsageText();
        return 0;
    }
    // The journal starts before the program's first clock reading.
    if (!StartRunJournal()) return 2;
    if (Options.virtualClock) UseVirtualClock(0);
    if (Options.headless) {
        ForceNullGraphics(true);
        SetNullDisplayMode(Options.headlessWidth, Options.headlessHeight);
    }

    SetWindowTitle(AppTitle());
    SpriteBudget[1] = 50000;
    SpriteBudget[2] = 50000;
    HideMouse();
    FrameTimeMark = Millisecs();
    EnumerateJoysticks();
    SetDefaultSettings();

    std::string files, folderError;
    std::vector<std::string> folderNotes;
    if (!ChooseDataFolder(Options.filesDir, files, folderError, folderNotes)) {
        std::cerr << "wormlob2: " << folderError << "\n";
        return 1;
    }
    if (!ChangeDir(files)) {
        std::cerr << "wormlob2: cannot find the data folder \"" << files
                  << "\" (start the game from the folder that holds Files/)\n";
        return 1;
    }
    if (!OpenLog("Debug.txt"))
        std::cerr << "wormlob2: cannot write Debug.txt; running without a log\n";
    LogLine("Loading");
    // Missing installed assets: on standard error for whoever started the
    // program from a terminal, in the log for a player's report.
    for (const std::string& note : folderNotes) {
        std::cerr << "wormlob2: " << note << "\n";
        LogLine("\t" + note);
    }
    AudioDriverNames = ListAudioDrivers();
    LoadSetup();
    LoadAssist();
    if (Options.assist) ColourSymbols = true;
    JournalSetup();
    GameJournalSetup();
    OnlineStart();
    LogLine("");
    LogLine("Grabbing Previous Scores");
    LogLine("");
    if (!ChangeDir(std::to_string(WeekNumber) + "/")) {
        LogLine("\tThe game folder is missing");
        std::cerr << "wormlob2: the game folder " << WeekNumber << "/ is missing in " << files << "\n";
        CloseLog();
        ShutdownAudio();
        return 1;
    }
    // Scripted input times count from here, so a script does not depend on
    // how long the options and the log took.
    if (!Options.inputScript.empty()) StartInputScript(Options.script);
    SplashDeadline = (int)((uint32_t)Millisecs() + 2500u);
    FillCredits();
    MarginX = 24;
    RowStep = 32;
    if (!ApplyGraphicsSettings()) {
        CloseLog();
        ShutdownAudio();
        return 1;
    }
    JournalPlayerName();
    GameJournalPlayerName();
    MouseGame = 1;
    MaxPlayers = 4;
    PlayState = 0;
    CreateGameTables();
    LogLine("Finished Loading");
    WaitUntilMs(SplashDeadline);
    CurrentMode = 1;
    if (Options.mode >= 0) CurrentMode = Options.mode;
    if (Options.seed >= 0) SeedRandom((int)Options.seed);
    return -1;
}

void TitleLoop() {
    SlideIn = 0;
    StartLatch = 0;
    g_escapeLatch = 0;
    bool quit = false;
    while (!quit) {
        TitleFrame();
        FinishFrame(1);
        if (!KeyIsDown(27)) g_escapeLatch = 0;
        if (g_escapeLatch == 0 && KeyIsDown(27)) quit = true;
    }
}

int RunProgram(int argc, char** argv) {
    int status = StartProgram(argc, argv);
    if (status >= 0) return status;
    if (ReplayingGameJournal()) RunGameJournalReplay();
    TitleLoop();
    ShutDown();
}
