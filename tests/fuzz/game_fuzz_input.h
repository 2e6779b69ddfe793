// The input form of the whole-game fuzz target (game_fuzz.cpp), shared with
// the tool that turns recorded runs into seeds (tools/fuzzseeds).
//
//   byte 0        the mode (value mod 3)
//   bytes 1..4    the random seed, little-endian (the top bit dropped)
//   then one record per frame, delivered at the end of the frame before:
//   byte          low 3 bits: events in this record (0..7); high 5 bits:
//                 frames that follow with no events (0..31)
//   events        a kind byte (mod K_COUNT) and its payload, below
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/system.h"

enum GameFuzzKind {
    K_MOVE,          // int16 x, int16 y: the pointer, window pixels
    K_MOVE_FAR,      // byte: low nibble x, high nibble y; 0..7 FarPlaces,
                     // 8..15 near the window (see the target)
    K_BUTTON_DOWN,   // byte: button 1 + value mod 3
    K_BUTTON_UP,     // byte
    K_KEY_DOWN,      // byte: index into GameFuzzKeys (mod the count)
    K_KEY_UP,        // byte
    K_KEY_TAP,       // byte: down and up in the same frame
    K_CHAR,          // uint16: a typed character
    K_JOY_AXIS,      // byte axis (mod 6), int16 value
    K_JOY_HAT,       // byte: 0 centred, 1..8 clockwise from up (mod 9)
    K_JOY_BUTTON,    // byte: bit 7 down, low 7 bits button (mod 12)
    K_WHEEL,         // int8
    K_FOCUS,         // byte: even the window loses focus, odd it gets it
    K_PAD,           // byte: low 2 bits down, up, axis or gone, the rest the
                     // slot (mod 6: two past the pads); byte: button or axis
                     // (mod 24: past both ranges); int16: the axis's place
    K_COUNT
};

// The keys the program reacts to: Escape, Tab, F3, F4, F11, F12, Enter, the
// cursor keys, Space, Backspace, then the letters (Z, X, C and V are the
// pause menu's controls; name entry takes typed characters).
inline constexpr int GameFuzzKeys[] = {27, 9, 114, 115, 122, 123, 13, 37, 38, 39, 40, 32, 8,
                                       65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77,
                                       78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90};
inline constexpr int GameFuzzKeyCount = sizeof GameFuzzKeys / sizeof GameFuzzKeys[0];

// Pointer places far from the window, in window pixels.
inline constexpr int GameFuzzFarPlaces[8] = {-100000, 100000, -1000000, 1000000,
                                             -30000,  30000,  -2147483647 - 1, 2147483647};

// Writes the form: the header, then frames one at a time.
struct GameFuzzWriter {
    std::string out;
    int idle = -1;  // empty frames not yet written; -1 before the first record

    void Header(int mode, uint32_t seed) {
        out.push_back((char)mode);
        for (int k = 0; k < 4; k++) out.push_back((char)(seed >> (8 * k)));
    }
    void Byte(int v) { out.push_back((char)(uint8_t)v); }
    void S16(int v) {
        if (v < -32768) v = -32768;
        if (v > 32767) v = 32767;
        Byte(v & 255);
        Byte((v >> 8) & 255);
    }
    // Empty frames are gathered and written as runs of up to 32.
    void EmptyFrame() { idle++; }
    void FlushIdle() {
        while (idle > 0) {
            int n = idle < 32 ? idle : 32;
            Byte((n - 1) << 3);
            idle -= n;
        }
        idle = 0;
    }
    // One frame's events in the form; events it has no kind for (keys the
    // program ignores) are left out. A record holds 7 events: more wait for
    // the next frame's record, so the later frames keep their places.
    std::vector<std::string> carry;
    template <class Events> void Frame(const Events& events) {
        for (const InputEvent& e : events) {
            std::string one = Encode(e);
            if (!one.empty()) carry.push_back(one);
        }
        if (carry.empty()) {
            EmptyFrame();
            return;
        }
        FlushIdle();
        // A press and its release in one record would never be seen held
        // (the program polls keys between frames too, in its waits): the
        // release waits for the next record.
        size_t n = 0;
        while (n < carry.size() && n < 7 && !Releases(carry, n)) n++;
        Byte((int)n);
        for (size_t i = 0; i < n; i++) out += carry[i];
        carry.erase(carry.begin(), carry.begin() + (long)n);
    }
    // True when event n of list lets go of a key or button pressed earlier
    // in it.
    static bool Releases(const std::vector<std::string>& list, size_t n) {
        const std::string& e = list[n];
        int down = e[0] == K_KEY_UP ? K_KEY_DOWN : e[0] == K_BUTTON_UP ? K_BUTTON_DOWN : -1;
        for (size_t i = 0; i < n && down >= 0; i++)
            if (list[i][0] == down && list[i][1] == e[1]) return true;
        return false;
    }
    static std::string Encode(const InputEvent& e) {
        GameFuzzWriter w;
        switch (e.type) {
        case INPUT_MOUSE_MOVE: w.Byte(K_MOVE), w.S16(e.x), w.S16(e.y); break;
        case INPUT_MOUSE_DOWN:
        case INPUT_MOUSE_UP:
            if (e.code < 1 || e.code > 3) break;
            w.Byte(e.type == INPUT_MOUSE_DOWN ? K_BUTTON_DOWN : K_BUTTON_UP), w.Byte(e.code - 1);
            break;
        case INPUT_KEY_DOWN:
        case INPUT_KEY_UP:
            for (int k = 0; k < GameFuzzKeyCount; k++)
                if (GameFuzzKeys[k] == e.code && !e.repeat) w.Byte(e.type == INPUT_KEY_DOWN ? K_KEY_DOWN : K_KEY_UP), w.Byte(k);
            break;
        case INPUT_CHAR: w.Byte(K_CHAR), w.Byte(e.code & 255), w.Byte((e.code >> 8) & 255); break;
        case INPUT_WHEEL: w.Byte(K_WHEEL), w.Byte(e.code < -128 ? -128 : e.code > 127 ? 127 : e.code); break;
        case INPUT_SUSPEND: w.Byte(K_FOCUS), w.Byte(0); break;
        case INPUT_RESUME: w.Byte(K_FOCUS), w.Byte(1); break;
        case INPUT_JOYSTICKS_CHANGED: break;  // only a page's pads come late
        case INPUT_PAD_DOWN:
        case INPUT_PAD_UP:
        case INPUT_PAD_AXIS:
        case INPUT_PAD_GONE: break;  // seeds come from mouse and key runs
        }
        return w.out;
    }
};
