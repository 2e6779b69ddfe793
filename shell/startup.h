// Program start-up, the outer (title) loop and shutdown; the shell's
// constants and global state.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "media/audio.h"
#include "media/system.h"

constexpr int WeekNumber = 418;
extern const std::string GameTitle;
extern const std::string GameTagline;
// "#418 : Wormlob 2 <tagline>": the window title and the log banner's title.
std::string AppTitle();

extern int CurrentMode;    // 0 Easy, 1 Medium, 2 Hard
extern int PlayState;      // 0 title, 1 game, 2 pause
extern int GameStartTime;  // Millisecs when the game started (pauses added)
extern int MouseGame;
extern int MaxPlayers;
extern int SplashDeadline;
extern SoundRef TitleMusic;

// Credits lines, used from 1; CreditCount lines are filled.
extern std::string Credits[100];
extern int CreditCount;
void FillCredits();

// Joystick tables, used 1..4.
extern int JoyCount;
extern std::string JoyNames[5];
extern int JoyButtons[5];
extern int JoyEnabled[5];
extern int JoyHatCentred[5];
extern float JoyRest[6][5];  // axes X, Y, Z, R, U, V

// Command-line options of the program (automation and headless runs).
struct ProgramOptions {
    bool virtualClock = false;
    bool headless = false;
    std::string inputScript;
    std::vector<ScriptedInput> script;  // its events, read with the options
    long long frames = 0;       // 0 = run until the player quits
    int headlessWidth = 1280, headlessHeight = 960;
    std::string filesDir;      // the folder that holds Files/ contents; "" = ./Files
    // --grab N:FILE: save the back buffer of frame N as a PNG (before it is
    // presented), for looking at screens in automated runs.
    std::vector<std::pair<long long, std::string>> grabs;
    // --record FILE / --replay FILE: the run journal; --checksums FILE: one
    // line per frame with the game state's checksum (all made absolute).
    std::string recordFile, replayFile, checksumFile;
    // --autoplay: the built-in demo player works the mouse and keys.
    bool autoplay = false;
    int mode = -1;         // --mode easy|medium|hard: the mode chosen at start
    long long seed = -1;   // --seed N: the random generator's start, -1 as is
    long long games = 0;   // --games N: end the program after N filed games
    // --test-load N (measurements): the start-up performance test holds N
    // sprites for 70 frames instead of searching for the largest load.
    int testLoad = 0;
    // --scores-server URL|off: send games to that score server from now on
    // (kept in Online.ini), or stop sending; "" when not given.
    std::string scoresServer;
    // --replay URL: the address the journal was fetched from ("" for a file).
    std::string replayUrl;
    // --autoplay-steer mouse|keys|stick: how the demo player steers (0, 1, 2).
    int autoplaySteer = 0;
    bool assist = false;      // --assist: colour symbols on for this run
    bool virtualPad = false;  // --virtual-pad: script pad lines work an SDL virtual pad
    // Keys and pads steer and start games. Off only while replaying a run
    // recorded before they did, which must replay as it was played.
    bool steering = true;
    // --daily: play today's daily challenge of the score server (in the
    // --mode chosen) as soon as its token is there.
    bool daily = false;
};
extern ProgramOptions Options;
// Parses argv into Options; returns false (and prints why) on bad usage.
// Sets wantHelp for --help.
bool ParseOptions(int argc, char** argv, bool& wantHelp);
std::string UsageText();

// The whole program: start-up, outer loop, ShutDown. Returns the exit code
// only when start-up fails (ShutDown ends the process itself).
int RunProgram(int argc, char** argv);
// RunProgram's two halves, apart so that a test can start the program once
// and run its outer loop many times. StartProgram reads the options and
// does everything up to the first title frame: -1 when the program is ready,
// else the exit code (0 after --help). TitleLoop runs the title screen, and
// the games started from it, until Escape is pressed on the title.
int StartProgram(int argc, char** argv);
void TitleLoop();
[[noreturn]] void ShutDown();
// Waits, drawing nothing, until the program's clock reaches deadline.
void WaitUntilMs(int deadline);
// Counts the joysticks again after one came or went: the listed ones keep
// their rest positions and switches, new ones are read as at the start.
void CountJoysticksAgain();
// One whole game, started from the title's button (or by a game journal's
// replay): the title music stops, and on return the title slides in again.
void StartGameFromTitle();
// The title music's start: PlayOnSlot at rate 1, centre, full volume.
void PlayMusicOnSlot(const SoundRef& sound, int slot);

// The game itself; until the game arrives this returns at once.
void RunGame();
