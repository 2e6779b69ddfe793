// Running the game's replay of a submitted journal in a confined child:
// private PID, network, mount and IPC namespaces (no network, nothing
// writable but the child's own folder, no other process in sight), a user
// id of its own, a system call filter, resource limits and a wall-time
// limit.
#pragma once

#include <cstdint>
#include <string>

#include "server/verdict.h"

struct SandboxLimits {
    int cpuSeconds = 60;
    int64_t memoryBytes = int64_t(2048) << 20;
    int64_t fileBytes = int64_t(64) << 20;  // largest file the child may write
    int openFiles = 256;
    int wallSeconds = 120;
};

struct ReplayJob {
    std::string self;      // this server's executable, which confines the child
    std::string game;      // the game binary
    std::string filesDir;  // the game's assets folder, mirrored for each replay
    std::string workDir;   // where the replays' temporary folders go
    std::string journal;   // the journal's bytes
    SandboxLimits limits;
};

// Replays the journal and reports how the child ended; never throws.
ReplayOutcome RunReplay(const ReplayJob& job);

// Removes the replay folders in workDir that a killed process left behind
// (their lock is free), and unlocked ones over an hour old; those of a live
// process are kept. Returns how many it removed.
int SweepStaleFolders(const std::string& workDir);

// How this process confines its replays, given once at start-up.
struct SandboxSetup {
    // A server run as root replays under user and group ids of their own,
    // one of kReplayIds from this one up, each replay its own; no account
    // and no other service may use them.
    uint32_t replayUid = 1879048192;
    // When the kernel refuses the namespaces, replay with what is left
    // rather than refuse to start.
    bool weakAllowed = false;
};
constexpr uint32_t kReplayIds = 65536;

struct SandboxProbe {
    bool full = false;    // every part of the confinement holds
    std::string how;      // what confinement a replay gets, for the log
    std::string missing;  // when not full: what the kernel refused
};

// Takes the setup for the replays to come, and finds what confinement they
// get here by running it around /bin/true.
SandboxProbe ProbeSandbox(const std::string& self, const std::string& workDir, const SandboxSetup& setup);

// The child's side: "wormlob2-server --sandbox DIR CPU MEM FSIZE NOFILE PARENT UID WEAK -- GAME ARGS...".
// Confines the process it runs in, then starts GAME. Returns only on failure.
int SandboxMain(int argc, char** argv);
