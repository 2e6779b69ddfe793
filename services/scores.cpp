#include "services/scores.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "media/system.h"
#include "services/datetext.h"
#include "shell/log.h"
#include "shell/text.h"

std::list<ScoreRef> ScoreList;
std::string PlayerName = "Player";
int ScoreScroll = 0;
int ScorePick = 0;

namespace {
// Set when the score file on disk could not be used: it must be copied aside
// before anything replaces it. Holds the file's path, empty when nothing is
// owed.
std::string g_backupOwed;

// Games filed this run whose write failed (full disk, read-only folder):
// they live only in ScoreList. The display set-up reads the file again each
// time the display is reopened, and that read must not replace them with
// the older file.
std::vector<std::weak_ptr<Scores>> g_unwritten;

bool ListHoldsUnwrittenGames() {
    for (const auto& w : g_unwritten) {
        ScoreRef r = w.lock();
        if (!r) continue;
        for (const ScoreRef& s : ScoreList)
            if (s == r) return true;
    }
    return false;
}

// The bytes that would break a record apart when read back: the field
// separator, line ends and NUL (which ends a line for the reader).
std::string FileSafeName(const std::string& name) {
    std::string s = name;
    for (char& c : s)
        if (c == '|' || c == '\r' || c == '\n' || c == '\0') c = ' ';
    return s;
}

// True when both files can be read and hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = fa ? std::fopen(b.c_str(), "rb") : nullptr;
    bool same = fa && fb;
    while (same) {
        int ca = std::getc(fa), cb = std::getc(fb);
        if (ca != cb) same = false;
        if (ca == EOF || cb == EOF) break;
    }
    if (same && (std::ferror(fa) || std::ferror(fb))) same = false;
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

// Copies the unusable file to "<path>.bak" (through a temporary file, so a
// half-written copy never stands as the backup). An earlier backup is never
// overwritten: when "<path>.bak" holds other bytes, the copy goes to the
// first free "<path>.bak.N" (and when it holds these very bytes, it already
// is the copy). True when the copy is in place or when there is nothing left
// to copy.
bool BackUpUnusableFile(const std::string& path) {
    std::error_code ec;
    if (FileType(path) == 0) return true;  // gone meanwhile: nothing to keep
    std::string bak = path + ".bak";
    for (int n = 1; FileType(bak) != 0; n++) {
        if (SameBytes(path, bak)) {
            LogLine("\tThe old " + path + " is already kept as " + bak);
            return true;
        }
        if (n > 999) return false;
        bak = path + ".bak." + std::to_string(n);
    }
    std::string tmp = bak + ".tmp";
    std::filesystem::copy_file(path, tmp, std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec) std::filesystem::rename(tmp, bak, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    LogLine("\tThe old " + path + " was copied to " + bak);
    return true;
}
}  // namespace

int Scores::Compare(const Scores* other) const {
    if (!other) return 1;
    if (other->Timestamp > Timestamp) return 1;
    if (other->Timestamp < Timestamp) return -1;
    return 0;
}

void ResetScoreView() {
    ScoreScroll = 0;
    ScorePick = 0;
}

void SortScoreList() {
    // std::list::sort is a stable merge sort.
    ScoreList.sort([](const ScoreRef& a, const ScoreRef& b) { return a->Compare(b.get()) < 0; });
}

std::string ScoreRecordLine(const Scores& r) {
    return std::to_string(r.Score) + "|" + FileSafeName(r.Name) + "|" + std::to_string(r.Badges) +
           "|" + std::to_string(r.Timestamp) + "|" + std::to_string(r.Level) + "|" +
           std::to_string(r.GameMode) + "|" + std::to_string(r.GameFlags) + "|" +
           std::to_string(r.Quit);
}

std::string ScoreBestLine(const Scores& r) {
    std::string line;
    for (int i = 1; i <= 30; i++) {
        if (i > 1) line += "|";
        line += std::to_string(r.Best[i]);
    }
    return line;
}

std::vector<std::string> ScoreFileLines() {
    SortScoreList();
    std::vector<std::string> lines;
    lines.reserve(ScoreList.size() * 2);
    for (const ScoreRef& r : ScoreList) {
        lines.push_back(ScoreRecordLine(*r));
        lines.push_back(ScoreBestLine(*r));
    }
    return lines;
}

ScoreRef ParseScoreRecord(const std::string& line, const std::string& best) {
    auto r = std::make_shared<Scores>();
    // Each line is split once; a hostile file can hold very long lines.
    const std::vector<std::string> f = FieldsOf(line, "|", 8);
    r->Score = TextToLong(f[0]);
    r->Name = TrimText(f[1]);
    r->Badges = AbsInt(TextToInt(f[2]));
    r->Timestamp = TextToLong(f[3]);
    r->Level = AbsInt(TextToInt(f[4]));
    r->GameMode = AbsInt(TextToInt(f[5]));
    r->GameFlags = AbsInt(TextToInt(f[6]));
    r->Quit = AbsInt(TextToInt(f[7]));
    const std::vector<std::string> b = FieldsOf(best, "|", 30);
    for (int i = 1; i <= 30; i++) r->Best[i] = AbsInt(TextToInt(b[(size_t)i - 1]));
    return r;
}

int ReadScoreFile(const std::string& path) {
    int type = FileType(path);
    if (type == 0) return 0;  // no file yet: keep the list and the name
    if (ListHoldsUnwrittenGames()) {
        LogLine("\t" + path + " is not read again: it lacks games of this run that could not be written");
        return 0;
    }

    if (g_backupOwed == path) g_backupOwed.clear();
    TStream* s = ReadFile(path);
    if (!s) {
        LogLine("\t" + path + " could not be opened; it is kept and not read");
        g_backupOwed = path;
        return 0;
    }

    std::list<ScoreRef> records;
    bool first = true;
    std::string firstName;
    while (!EndOfStream(s)) {
        std::string line = ReadLine(s);
        if (line.find('|') == std::string::npos) continue;
        std::string best = EndOfStream(s) ? std::string() : ReadLine(s);
        ScoreRef r = ParseScoreRecord(line, best);
        if (first) firstName = r->Name;
        first = false;
        records.push_back(r);
    }
    bool readError = std::ferror(s->f) != 0;
    CloseStream(s);

    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    bool nonEmpty = ec || size > 0;
    if (readError || (records.empty() && nonEmpty)) {
        // Damaged or foreign: don't let the next write destroy it unseen.
        LogLine("\t" + path + (readError ? " could not be read" : " holds no score record") +
                "; it is copied aside before it is replaced");
        g_backupOwed = path;
        return 0;
    }

    ScoreList = std::move(records);
    SortScoreList();
    int count = (int)ScoreList.size();
    if (count > 0) PlayerName = firstName;
    return count;
}

bool WriteScoreFile(const std::string& path) {
    std::vector<std::string> lines = ScoreFileLines();
    if (g_backupOwed == path) {
        if (!BackUpUnusableFile(path)) {
            LogLine("\t" + path + " could not be copied aside; it is left as it was");
            return false;
        }
        g_backupOwed.clear();
    }
    if (!WriteFileAtomically(path, lines.data(), (int)lines.size())) {
        LogLine("\tCould not write " + path + "; the previous file is kept");
        return false;
    }
    g_unwritten.clear();  // every game in the list is in the file now
    return true;
}

ScoreRef FileScoreRecord(int64_t score, int mode, int quit) {
    auto r = std::make_shared<Scores>();
    r->Score = score;
    r->Timestamp = MakeTimestamp("");
    r->Badges = 0;
    r->Name = PlayerName;
    r->Level = 0;
    r->GameMode = mode;
    r->GameFlags = 0;
    r->Quit = quit ? 1 : 0;
    ScoreList.push_back(r);
    SortScoreList();
    if (!WriteScoreFile()) g_unwritten.push_back(r);
    return r;
}
