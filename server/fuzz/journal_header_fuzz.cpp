// Feeds arbitrary bytes to what the server reads of a journal before it
// stores it (the header), and of the replay's answer (the verified line),
// and decides a verdict on them.
#include <cstdint>
#include <string>

#include "server/header.h"
#include "server/verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in((const char*)data, size);
    JournalHeader h;
    HeaderLimits limits;
    std::string why = ParseJournalHeader(in, limits, h);
    if (why.empty()) {
        // Accepted: the claims written back out are the header read, byte
        // for byte (nothing was skipped or guessed), and the name is one the
        // page may show.
        std::string back = "wormlob2 game 1\nrules " + h.rules + "\nassets " + h.assets + "\nmode " + h.mode +
                           "\nname " + (h.nameHex.empty() ? "-" : h.nameHex) + "\nscore " + std::to_string(h.score) +
                           "\nwave " + std::to_string(h.wave) + "\nframes " + std::to_string(h.frames) + "\nms " +
                           std::to_string(h.ms) + "\ntoken " + (h.token.empty() ? "-" : h.token) + "\npractice " +
                           (h.practice ? "1" : "0") + "\nautoplay " + (h.autoplay ? "1" : "0") + "\n\n";
        if (in.compare(0, h.bodyOffset, back) != 0 || h.bodyOffset >= in.size()) __builtin_trap();
        if (!CheckName(h.name, limits.maxNameBytes).empty() || h.frames < 1 || h.frames > limits.maxFrames)
            __builtin_trap();
    } else if (why.size() < 10) {
        __builtin_trap();
    }
    // The same bytes as the replay's last line.
    ReplayOutcome o;
    o.kind = ReplayOutcome::EXITED;
    o.lastOut = in;
    VerifiedLine v;
    if (ParseVerifiedLine(in, v) && (v.mode.empty() || v.wave < 0)) __builtin_trap();
    // The token gave seed 7: a line that names it (and a fingerprint) can rank.
    const TokenInfo token{true, true, 0, 7};
    Verdict d = Decide(h, o, token, 1 << 30);
    if (d.status == Verdict::RETRY || (d.status == Verdict::REJECTED && d.reason.empty())) __builtin_trap();
    // A header followed by the replay's answer: what follows an accepted
    // header is taken as the replay's last line, so claims and answer are
    // fuzzed together and a verdict can rank.
    if (why.empty()) {
        o.lastOut = in.substr(h.bodyOffset);
        d = Decide(h, o, token, 1 << 30);
        if (d.status == Verdict::RETRY || (d.status == Verdict::REJECTED && d.reason.empty())) __builtin_trap();
    }
    // Ranked only when the replay's own line confirms every claim the
    // tables show: a verdict that ranked on a line it could not read, or
    // on a line that says otherwise, would put forged claims in the tables.
    if (d.status == Verdict::RANKED) {
        VerifiedLine line;
        if (!ParseVerifiedLine(o.lastOut, line)) __builtin_trap();
        if (line.mode != h.mode || line.score != h.score || line.wave != h.wave || line.frames != h.frames ||
            line.ms != h.ms || line.nameHex != h.nameHex || line.practice || line.autoplay || line.seed != 7 ||
            line.fingerprint.size() != 16 || d.fingerprint != line.fingerprint)
            __builtin_trap();
    }
    return 0;
}
