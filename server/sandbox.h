// Running the game's replay of a submitted journal in a confined child:
// resource limits, a wall-time limit, and where Linux allows it private
// namespaces (no network, nothing writable but the child's own folder).
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

// What confinement a replay gets here, found by running the confinement
// around /bin/true: "user+net+mount namespaces", or why less.
std::string ProbeSandbox(const std::string& self, const std::string& workDir);

// The child's side: "wormlob2-server --sandbox DIR CPU MEM FSIZE NOFILE PARENT -- GAME ARGS...".
// Confines the process it runs in, then becomes GAME. Returns only on failure.
int SandboxMain(int argc, char** argv);
