// The server's settings: each has a default, an environment variable
// (WORMLOB_SERVER_ and the option's name in capitals, "-" as "_") and an
// option; the option wins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 8080;
    std::string database = "wormlob2-scores.sqlite";
    std::string site;     // web build served at /play/, none when empty
    std::string game;     // game binary; found beside the server when empty
    std::string files;    // the game's assets; found beside the game when empty
    std::string workDir;  // temporary folders of the replays; $TMPDIR or /tmp when empty
    int workers = 2;      // replays at once
    int httpThreads = 64;
    int dbConnections = 8;
    int64_t maxJournalBytes = 1 << 20;
    int64_t maxFrames = 216000;
    int64_t maxNameBytes = 40;
    int rateLimit = 60;  // submissions and tokens a minute from one address; 0: no limit
    int rateBurst = 30;
    int64_t maxQueue = 10000;  // pending games past which submissions wait
    int cpuSeconds = 60;
    int64_t memoryMb = 2048;
    int wallSeconds = 120;
    int leaseSeconds = 180;  // longer than a replay may take
    int pollMs = 1000;       // how often an idle worker looks for games other processes took in
    int cacheMs = 1000;      // how long a score table answer is reused
    std::string trustedProxy;  // a reverse proxy whose X-Forwarded-For names the client
    bool quiet = false;        // no line per request
    uint32_t replayUid = 1879048192;  // run as root: the first of the replays' own user ids
    bool weakSandbox = false;         // replay with less confinement where the kernel refuses namespaces
    int connectionsPerAddress = 16;  // open connections from one address (IPv6: one /64); 0: no limit
    int requestSeconds = 20;         // a request's head and body must arrive within this, in total
    int getRateLimit = 600;          // GET requests a minute from one address; 0: no limit
    int getRateBurst = 120;
    std::vector<std::string> allowOrigins;  // other origins whose pages may call the API
    std::string databaseFile;               // a file whose first line is the database address
    int64_t testClockOffsetS = 0;  // tests only: the API's clock runs this far off
};

// Fills o from the environment, then from the arguments. Returns "" or
// what is wrong; help is set for --help.
std::string ParseServerOptions(const std::vector<std::string>& args, ServerOptions& o, bool& help);
std::string ServerHelp();
