#include "server/options.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

namespace {
struct Setting {
    const char* name;
    const char* arg;
    const char* what;
    std::function<bool(ServerOptions&, const std::string&)> set;
};

bool Number(const std::string& v, int64_t lo, int64_t hi, int64_t& out) {
    if (v.empty() || v.size() > 12) return false;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
    }
    out = std::atoll(v.c_str());
    return out >= lo && out <= hi;
}

template <typename T>
std::function<bool(ServerOptions&, const std::string&)> Num(T ServerOptions::*field, int64_t lo, int64_t hi) {
    return [=](ServerOptions& o, const std::string& v) {
        int64_t n = 0;
        if (!Number(v, lo, hi, n)) return false;
        o.*field = (T)n;
        return true;
    };
}

// An option without a value (its environment variable: 1 or 0).
std::function<bool(ServerOptions&, const std::string&)> Flag(bool ServerOptions::*field) {
    return [=](ServerOptions& o, const std::string& v) {
        if (v != "1" && v != "0") return false;
        o.*field = v == "1";
        return true;
    };
}

std::function<bool(ServerOptions&, const std::string&)> Text(std::string ServerOptions::*field) {
    return [=](ServerOptions& o, const std::string& v) {
        if (v.empty()) return false;
        o.*field = v;
        return true;
    };
}

const std::vector<Setting>& Settings() {
    static const std::vector<Setting> s = {
        {"port", "N", "port to listen on (8080)", Num(&ServerOptions::port, 1, 65535)},
        {"address", "A", "address to listen on (127.0.0.1)", Text(&ServerOptions::address)},
        {"database", "D", "SQLite file, or a postgresql:// address (wormlob2-scores.sqlite)",
         Text(&ServerOptions::database)},
        {"site", "DIR", "the web build, served at /play/ (none)", Text(&ServerOptions::site)},
        {"game", "PATH", "the game binary that replays journals (the wormlob2 beside this program)",
         Text(&ServerOptions::game)},
        {"files", "DIR", "the game's assets folder (the one the game's build or install uses)",
         Text(&ServerOptions::files)},
        {"work-dir", "DIR", "where replays get their temporary folders ($TMPDIR or /tmp)",
         Text(&ServerOptions::workDir)},
        {"workers", "N", "replays run at once (2)", Num(&ServerOptions::workers, 0, 256)},
        {"http-threads", "N", "connections served at once (64)", Num(&ServerOptions::httpThreads, 1, 4096)},
        {"db-connections", "N", "database connections (8)", Num(&ServerOptions::dbConnections, 1, 256)},
        {"max-journal", "BYTES", "largest journal taken (1048576)",
         Num(&ServerOptions::maxJournalBytes, 1024, int64_t(1) << 30)},
        {"max-frames", "N", "longest game replayed, in frames (216000: an hour)",
         Num(&ServerOptions::maxFrames, 1, 100000000)},
        {"max-name", "N", "longest name, in characters (40)", Num(&ServerOptions::maxNameBytes, 1, 1000)},
        {"rate-limit", "N", "submissions and tokens a minute from one address, 0 for none (60)",
         Num(&ServerOptions::rateLimit, 0, 1000000)},
        {"rate-burst", "N", "of which this many at once (30)", Num(&ServerOptions::rateBurst, 1, 1000000)},
        {"max-queue", "N", "pending games past which new ones are turned away (10000)",
         Num(&ServerOptions::maxQueue, 1, 1000000000)},
        {"cpu-limit", "S", "most CPU seconds a replay may use (60); each gets 8 and 3 % of its claimed play time",
         Num(&ServerOptions::cpuSeconds, 1, 86400)},
        {"memory-limit", "MB", "address space a replay may use (2048; 0: no limit, for a sanitizer build of the game)",
         Num(&ServerOptions::memoryMb, 0, 1 << 20)},
        {"wall-limit", "S", "seconds a replay may take (120)", Num(&ServerOptions::wallSeconds, 1, 86400)},
        {"lease", "S", "seconds a process holds a game it verifies; after that another takes it (180)",
         Num(&ServerOptions::leaseSeconds, 2, 86400)},
        {"poll-ms", "MS", "how often idle workers look for games other processes took in (1000)",
         Num(&ServerOptions::pollMs, 10, 600000)},
        {"trusted-proxy", "A", "a reverse proxy's address: its requests count as from the client its X-Forwarded-For names (none)",
         Text(&ServerOptions::trustedProxy)},
        {"cache-ms", "MS", "how long a score table answer is reused, 0 for never (1000)",
         Num(&ServerOptions::cacheMs, 0, 3600000)},
        {"replay-uid", "ID", "run as root: replays take user ids of their own from this one up, 65536 of them, "
         "which no account may use (1879048192)",
         Num(&ServerOptions::replayUid, 1000, int64_t(4294967294) - 65536)},
        {"weak-sandbox", "", "where the kernel refuses the replays their namespaces, replay with less confinement "
         "rather than refuse to start", Flag(&ServerOptions::weakSandbox)},
        {"connections-per-address", "N",
         "open connections from one address (an IPv6 /64), 0 for no limit; a trusted proxy has none (16)",
         Num(&ServerOptions::connectionsPerAddress, 0, 100000)},
        {"request-timeout", "S", "seconds in which a request's head and body must arrive, in total (20)",
         Num(&ServerOptions::requestSeconds, 1, 3600)},
        {"get-rate-limit", "N", "GET requests a minute from one address, 0 for none (600)",
         Num(&ServerOptions::getRateLimit, 0, 100000000)},
        {"get-rate-burst", "N", "of which this many at once (120)", Num(&ServerOptions::getRateBurst, 1, 100000000)},
        {"allow-origin", "URL",
         "a web origin (https://example.org) whose pages may take tokens and send games here; repeat or separate "
         "with commas (none: only pages this server serves)",
         [](ServerOptions& o, const std::string& v) {
             size_t start = 0;
             while (start <= v.size()) {
                 size_t comma = v.find(',', start);
                 std::string one = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                 while (!one.empty() && one.front() == ' ') one.erase(0, 1);
                 while (!one.empty() && (one.back() == ' ' || one.back() == '/')) one.pop_back();
                 if (one.rfind("http://", 0) != 0 && one.rfind("https://", 0) != 0) return false;
                 o.allowOrigins.push_back(one);
                 if (comma == std::string::npos) break;
                 start = comma + 1;
             }
             return true;
         }},
        {"database-file", "PATH",
         "a file whose first line is the database address, so that a password is not on the command line (none)",
         Text(&ServerOptions::databaseFile)},
        // Lets a test take a daily challenge's token on another day; a
        // served table has no use for it.
        {"test-clock-offset", "S", "for tests only: the clock of tokens and tables is this many seconds off, - for earlier (0)",
         [](ServerOptions& o, const std::string& v) {
             int64_t n = 0;
             bool back = !v.empty() && v[0] == '-';
             if (!Number(back ? v.substr(1) : v, 0, 3650LL * 86400, n)) return false;
             o.testClockOffsetS = back ? -n : n;
             return true;
         }},
    };
    return s;
}

std::string EnvName(const std::string& option) {
    std::string e = "WORMLOB_SERVER_";
    for (char c : option) e += c == '-' ? '_' : (char)std::toupper((unsigned char)c);
    return e;
}
}  // namespace

std::string ServerHelp() {
    std::string h =
        "Usage: wormlob2-server [options]\n"
        "Serves the verified high-score tables of Wormlob 2: takes game journals, replays\n"
        "each with the game itself before ranking it, and shows the tables at / and the\n"
        "web build at /play/.\n\n";
    auto line = [&](std::string option, const std::string& what) {
        option = "  " + option;
        option.resize(std::max<size_t>(option.size() + 1, 24), ' ');
        h += option + what + "\n";
    };
    for (const Setting& s : Settings()) line("--" + std::string(s.name) + (*s.arg ? " " : "") + s.arg, s.what);
    line("--quiet", "no log line per request");
    line("--help", "this text");
    h += "\n"
         "Each option can also be set in the environment: --max-queue as\n"
         "WORMLOB_SERVER_MAX_QUEUE, and so on; WORMLOB_SERVER_DATABASE or --database-file keeps a\n"
         "database password out of the process list. SIGTERM finishes the replays that run, then stops.\n";
    return h;
}

std::string ParseServerOptions(const std::vector<std::string>& args, ServerOptions& o, bool& help) {
    help = false;
    for (const Setting& s : Settings()) {
        const char* v = std::getenv(EnvName(s.name).c_str());
        if (v && *v && !s.set(o, v)) return EnvName(s.name) + " has a bad value \"" + v + "\"";
    }
    if (const char* q = std::getenv("WORMLOB_SERVER_QUIET")) o.quiet = q[0] && q[0] != '0';
    for (size_t i = 0; i < args.size(); i++) {
        std::string a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return "";
        }
        if (a == "--quiet") {
            o.quiet = true;
            continue;
        }
        std::string value;
        bool inline_ = false;
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            inline_ = true;
        }
        const Setting* found = nullptr;
        for (const Setting& s : Settings()) {
            if (a == "--" + std::string(s.name)) found = &s;
        }
        if (!found) return "unknown option \"" + a + "\" (see --help)";
        if (!*found->arg) {
            if (inline_) return a + " takes no value";
            value = "1";
        } else if (!inline_) {
            if (i + 1 >= args.size()) return a + " needs a value";
            value = args[++i];
        }
        if (!found->set(o, value)) return a + " has a bad value \"" + value + "\"";
    }
    if (!o.databaseFile.empty()) {
        std::ifstream f(o.databaseFile);
        std::string line;
        if (!f || !std::getline(f, line))
            return "cannot read the database address from \"" + o.databaseFile + "\"";
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty()) return "the first line of \"" + o.databaseFile + "\" is empty: it should be the database address";
        o.database = line;
    }
    if (o.leaseSeconds <= o.wallSeconds)
        return "the lease (" + std::to_string(o.leaseSeconds) + " s) must be longer than the wall limit (" +
               std::to_string(o.wallSeconds) + " s): a game would be taken over while it is replayed";
    return "";
}
