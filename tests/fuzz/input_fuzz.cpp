// Feeds arbitrary bytes to the input-script reader (--input FILE) as the
// script's text.
// - A refused script gives no events and names a line that exists: the lines
//   before it read fine on their own, and that line alone is refused with
//   the same reason.
// - An accepted script's events are in time order with every field in the
//   range the format allows. They are then delivered through the input
//   tables on the virtual clock, started just short of the clock's wrap:
//   no event arrives a millisecond before its time, every event has arrived
//   at its time, held keys and buttons follow the events as they come, and
//   at the end every table holds what a plain replay of the events gives.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/system.h"

namespace {
// Lines as the reader splits them: at LF, a final line without LF counts.
size_t CountLines(const std::string& text) {
    size_t n = 0;
    for (char c : text)
        if (c == '\n') n++;
    if (!text.empty() && text.back() != '\n') n++;
    return n;
}

// "line N: what" gives N and what; false when error is not of that form.
bool SplitError(const std::string& error, size_t& line, std::string& what) {
    if (error.rfind("line ", 0) != 0) return false;
    size_t i = 5;
    line = 0;
    while (i < error.size() && error[i] >= '0' && error[i] <= '9' && line < 100000000) {
        line = line * 10 + size_t(error[i] - '0');
        i++;
    }
    if (i == 5 || error.compare(i, 2, ": ") != 0) return false;
    what = error.substr(i + 2);
    return !what.empty();
}

// The start of line number (1-based) in text; text.size() past the end.
size_t LineStart(const std::string& text, size_t number) {
    size_t pos = 0;
    for (size_t n = 1; n < number; n++) {
        size_t lf = text.find('\n', pos);
        if (lf == std::string::npos) return text.size();
        pos = lf + 1;
    }
    return pos;
}

void CheckRefused(const std::string& text, const std::vector<ScriptedInput>& events,
                  const std::string& error) {
    if (!events.empty()) std::abort();
    size_t line = 0;
    std::string what;
    if (!SplitError(error, line, what)) std::abort();
    if (line < 1 || line > CountLines(text)) std::abort();
    std::vector<ScriptedInput> again;
    std::string error2;
    // Everything before the named line reads fine.
    size_t start = LineStart(text, line);
    if (!ParseInputScript(text.substr(0, start), again, error2)) std::abort();
    // The named line alone is refused for the same reason.
    size_t lf = text.find('\n', start);
    std::string alone = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (ParseInputScript(alone, again, error2)) std::abort();
    if (error2 != "line 1: " + what) std::abort();
}

void CheckFields(const std::string& text, const std::vector<ScriptedInput>& events) {
    // At most one event per byte (text lines type one character per byte).
    if (events.size() > text.size()) std::abort();
    for (size_t i = 0; i < events.size(); i++) {
        const ScriptedInput& s = events[i];
        if (s.at > uint32_t(INT32_MAX)) std::abort();
        if (i > 0 && events[i - 1].at > s.at) std::abort();
        switch (s.e.type) {
        case INPUT_KEY_DOWN:
        case INPUT_KEY_UP:
            if (s.e.code < 0 || s.e.code > 255 || s.e.repeat) std::abort();
            break;
        case INPUT_MOUSE_DOWN:
        case INPUT_MOUSE_UP:
            if (s.e.code < 1 || s.e.code > 3) std::abort();
            break;
        case INPUT_CHAR:
            if (s.e.code < 0 || s.e.code > 65535) std::abort();
            break;
        case INPUT_MOUSE_MOVE:
        case INPUT_SUSPEND:
        case INPUT_RESUME:
            break;
        default:  // the reader never makes wheel events
            std::abort();
        }
    }
}

// What the tables should hold after the events, replayed plainly.
struct Model {
    int keyDown[256] = {};
    int keyHits[256] = {};
    int mouseDown[4] = {};
    int mouseHits[4] = {};
    std::vector<int> chars;  // typed and not yet read, oldest first
    int mouseX = 0, mouseY = 0;
};

void Apply(Model& m, const InputEvent& e) {
    switch (e.type) {
    case INPUT_KEY_DOWN:
        if (!m.keyDown[e.code]) m.keyHits[e.code]++;
        m.keyDown[e.code] = 1;
        break;
    case INPUT_KEY_UP:
        m.keyDown[e.code] = 0;
        break;
    case INPUT_MOUSE_DOWN:
        if (!m.mouseDown[e.code]) m.mouseHits[e.code]++;
        m.mouseDown[e.code] = 1;
        break;
    case INPUT_MOUSE_UP:
        m.mouseDown[e.code] = 0;
        break;
    case INPUT_CHAR:
        if (m.chars.size() < 256) m.chars.push_back(e.code);  // the queue holds 256
        break;
    case INPUT_MOUSE_MOVE:
        m.mouseX = ClampPointer(e.x);
        m.mouseY = ClampPointer(e.y);
        break;
    case INPUT_SUSPEND:
    case INPUT_RESUME: {
        // Focus changes drop held keys, buttons, hits and typed characters;
        // the pointer stays.
        int x = m.mouseX, y = m.mouseY;
        m = Model{};
        m.mouseX = x;
        m.mouseY = y;
        break;
    }
    default:
        break;
    }
}

// The held keys and buttons an event group touched, against the model.
void CheckHeld(const Model& m, const std::vector<ScriptedInput>& events, size_t from, size_t to) {
    for (size_t i = from; i < to; i++) {
        const InputEvent& e = events[i].e;
        if ((e.type == INPUT_KEY_DOWN || e.type == INPUT_KEY_UP) && KeyIsDown(e.code) != m.keyDown[e.code])
            std::abort();
        if ((e.type == INPUT_MOUSE_DOWN || e.type == INPUT_MOUSE_UP) &&
            MouseIsDown(e.code) != m.mouseDown[e.code])
            std::abort();
    }
    if (MouseXPos() != float(m.mouseX) || MouseYPos() != float(m.mouseY)) std::abort();
}

// Every table against the model. Reading hits and characters consumes them.
void CheckTables(const Model& m) {
    for (int k = 0; k < 256; k++)
        if (KeyIsDown(k) != m.keyDown[k] || KeyHitCount(k) != m.keyHits[k]) std::abort();
    for (int b = 1; b <= 3; b++)
        if (MouseIsDown(b) != m.mouseDown[b] || MouseHitCount(b) != m.mouseHits[b]) std::abort();
    if (MouseXPos() != float(m.mouseX) || MouseYPos() != float(m.mouseY)) std::abort();
    // NextTypedChar gives 0 for an empty queue, so a typed code 0 reads as
    // the end: stop there.
    for (int c : m.chars) {
        if (NextTypedChar() != c) std::abort();
        if (c == 0) return;
    }
    if (NextTypedChar() != 0) std::abort();
}

void Deliver(const std::vector<ScriptedInput>& events) {
    // Just short of the wrap, so scripts that run long cross it.
    UseVirtualClock(INT32_MAX - 5000);
    ResetInputTables();
    SetMouseScale(1.0f, 1.0f);
    StartInputScript(events);
    const int total = int(events.size());
    if (PendingScriptedEvents() != total) std::abort();
    Model m;
    uint32_t now = 0;
    size_t next = 0;
    while (next < events.size()) {
        uint32_t at = events[next].at;
        if (at > now) {
            // One millisecond short of the next time nothing new arrives.
            AdvanceVirtualClock(int(at - now - 1));
            PumpInput();
            if (PendingScriptedEvents() != total - int(next)) std::abort();
            AdvanceVirtualClock(1);
            now = at;
        }
        size_t from = next;
        while (next < events.size() && events[next].at == at) Apply(m, events[next++].e);
        PumpInput();
        if (PendingScriptedEvents() != total - int(next)) std::abort();
        CheckHeld(m, events, from, next);
    }
    CheckTables(m);
    FlushInput();
    UseRealClock();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<ScriptedInput> events;
    std::string error = "stale";
    events.push_back(ScriptedInput{7, InputEvent{INPUT_CHAR}});  // must be replaced
    if (!ParseInputScript(text, events, error)) {
        CheckRefused(text, events, error);
        return 0;
    }
    if (!error.empty()) std::abort();
    CheckFields(text, events);
    Deliver(events);
    return 0;
}
