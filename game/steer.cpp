// Steering by keys and pads. Everything reaches the game as pointer motion
// and button events posted through PostInputEvent, so a recorded run holds
// them like the mouse's own and a replay needs nothing of this file's state.
#include "game/steer.h"

#include <cmath>

#include "game/state.h"
#include "media/system.h"
#include "screens/binding.h"
#include "services/nameentry.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/startup.h"

namespace {
// One of the pointer's buttons as the keys and pads work it. A button is
// pressed on a source's press (so a key still held from another screen
// does nothing), and let go once no source that counts holds it.
struct Mirror {
    bool keyWas = false, padWas = false;
    bool own = false;  // the button is down because of a key or pad
};

struct Steering {
    float px = 0, py = 0;      // the steered pointer, drawing units (fractions kept)
    float setX = 0, setY = 0;  // where the tables held it after the last steered move
    bool steered = false;
    int heldX = 0, heldY = 0;  // frames the present direction has been held, signed
    bool padPlayed = false;    // a pad was used in this game
    Mirror launch, net;
};
Steering g;

void MirrorButton(int button, bool key, bool pad, bool keysCount, bool padsCount, Mirror& m) {
    bool pressed = (keysCount && key && !m.keyWas) || (padsCount && pad && !m.padWas);
    bool wanted = (keysCount && key) || (padsCount && pad);
    m.keyWas = key;
    m.padWas = pad;
    // Let go meanwhile by the mouse, or by a focus change clearing the tables.
    if (m.own && !MouseHeldNow(button)) m.own = false;
    InputEvent e{INPUT_MOUSE_DOWN};
    e.code = button;
    if (pressed && !m.own && !MouseHeldNow(button)) {
        PostInputEvent(e);
        m.own = true;
    } else if (m.own && !wanted) {
        e.type = INPUT_MOUSE_UP;
        PostInputEvent(e);
        m.own = false;
    }
}

// Counts the frames a direction (-1, 0, 1) has been held; a change of
// direction starts again, so reversing is as fine as the first nudge.
int Hold(int& held, int dir) {
    if (dir == 0 || (held > 0) != (dir > 0)) held = 0;
    held += dir;
    return held < 0 ? -held : held;
}

// v moved by d, but not past lo or hi in the direction of the move; a
// pointer the mouse left outside them is not pulled in.
float Toward(float v, float d, float lo, float hi) {
    if (d > 0 && v < hi) return std::fmin(v + d, hi);
    if (d < 0 && v > lo) return std::fmax(v + d, lo);
    return v;
}
}  // namespace

float KeyStep(int frames) {
    if (frames <= 0) return 0;
    if (frames <= KeyNudgeFrames) return KeyNudge;
    return std::fmin(KeyNudge + KeyRamp * (float)(frames - KeyNudgeFrames), KeyTop);
}

float StickStep(float push) {
    float a = std::fabs(push);
    if (!(a > StickDeadZone)) return 0;  // NaN too
    float u = std::fmin((a - StickDeadZone) / (StickFull - StickDeadZone), 1.0f);
    return std::copysign(StickTop * u * u, push);
}

float StickPushFor(float units) {
    float a = std::fabs(units);
    if (!(a > 0)) return 0;
    float u = std::sqrt(std::fmin(a / StickTop, 1.0f));
    return StickDeadZone + u * (StickFull - StickDeadZone);
}

int SteerHeldX() { return g.heldX; }

bool PadLeftMidGame() { return PadLeftNow() && PlayState != 0 && g.padPlayed; }

bool PadPlayedInGame() { return g.padPlayed; }
void SetPadPlayedInGame(bool played) { g.padPlayed = played; }

void ResetSteering() { g = Steering{}; }

void SteerPollHook() {
    // The bottom and right buttons are the launch and the net in a game
    // only: elsewhere Z and X are letters of a name or keys of a menu. A
    // pad's buttons work the pointer everywhere but in the pause menu,
    // which reads them itself.
    bool game = PlayState == 1 && SettingsOpen == 0 && NameEntryActive == 0 && Game.ExitCode == 0;
    bool pads = PlayState != 2;
    bool trigger = PadAxisNow(PAD_TRIGGER_LEFT) > TriggerHeld || PadAxisNow(PAD_TRIGGER_RIGHT) > TriggerHeld;
    MirrorButton(1, ControlKeyHeldNow(10), PadHeldNow(PAD_SOUTH) != 0, game, pads, g.launch);
    MirrorButton(2, ControlKeyHeldNow(11), PadHeldNow(PAD_EAST) || trigger, game, pads, g.net);
}

void SteerTick() {
    const float W = (float)ViewWidth, H = (float)ViewHeight;
    bool game = PlayState == 1 && SettingsOpen == 0;
    if (PlayState == 0) g.padPlayed = false;
    if (PlayState == 1) {
        for (int b = 0; b < PAD_BUTTONS; b++) g.padPlayed |= PadHeldNow(b) != 0;
        g.padPlayed |= StickStep(PadAxisNow(PAD_LEFT_X)) != 0 || StickStep(PadAxisNow(PAD_LEFT_Y)) != 0;
    }
    float dx = 0, dy = 0;
    float xlo = 0, xhi = W - 1, ylo = 0, yhi = H - 1;
    if (game) {
        int right = ControlKeyHeldNow(5) || PadHeldNow(PAD_DPAD_RIGHT);
        int left = ControlKeyHeldNow(3) || PadHeldNow(PAD_DPAD_LEFT);
        dx = (float)(right - left) * KeyStep(Hold(g.heldX, right - left)) + StickStep(PadAxisNow(PAD_LEFT_X));
        // The pointer's height lifts the bat in Easy only.
        if (CurrentMode == 0) {
            int down = ControlKeyHeldNow(8) || PadHeldNow(PAD_DPAD_DOWN);
            int up = ControlKeyHeldNow(0) || PadHeldNow(PAD_DPAD_UP);
            dy = (float)(down - up) * KeyStep(Hold(g.heldY, down - up)) + StickStep(PadAxisNow(PAD_LEFT_Y));
        } else {
            g.heldY = 0;
        }
        // Keys stop where the bat stops (BatX = (x - 640) x 1.2 + 640 within
        // half its width of the edges), so that reversing at an edge moves
        // it at once; with the net open the whole width, where pods are
        // caught. Heights: the pointer's band that lifts the bat, 15..135.
        if (MouseHeldNow(2) == 0) {
            float h = Game.BatWidth / 2;
            xlo = 640 + (h - 640) / 1.2f;
            xhi = 640 + (W - h - 640) / 1.2f;
        }
        ylo = 600 - 2 * 135;
        yhi = 600 - 2 * 15;
    } else {
        g.heldX = g.heldY = 0;
        // Outside a game (but not in the pause menu, which pads work
        // directly) the stick is a pointer for the title, the name prompt
        // and the settings panel.
        if (PlayState == 2 && SettingsOpen == 0) return;
        dx = StickPointerShare * StickStep(PadAxisNow(PAD_LEFT_X));
        dy = StickPointerShare * StickStep(PadAxisNow(PAD_LEFT_Y));
    }
    if (dx == 0 && dy == 0) return;
    // The pointer goes on from where it is: a mouse that moved it since the
    // last steered move wins, without a jump.
    float cx = MouseXNow(), cy = MouseYNow();
    if (!g.steered || cx != g.setX || cy != g.setY) g.px = cx, g.py = cy;
    g.px = Toward(g.px, dx, xlo, xhi);
    g.py = Toward(g.py, dy, ylo, yhi);
    PostPointerMove(g.px, g.py);
    g.setX = MouseXNow();
    g.setY = MouseYNow();
    g.steered = true;
}
