// The demo player. On the title it clicks the start button; in a game it
// steers the bat under whatever comes down first, launches resting balls
// and opens the net under pods falling toward it; at the name prompt it
// presses Enter. Everything goes through the input tables as events, the
// way the platform delivers the real mouse and keys.
//
// It steers with the mouse, or (--autoplay-steer) with the keys or a pad's
// stick as a player without a mouse would: it holds the bound keys, pushes
// the stick and presses the buttons, and the steering of game/steer.cpp
// moves the pointer under the same curves as a player's, in the same frame.
#include "game/autoplay.h"

#include <cmath>
#include <cstdio>

#include "game/state.h"
#include "game/steer.h"
#include "media/graphics.h"
#include "media/system.h"
#include "screens/enginetest.h"
#include "services/nameentry.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/setup.h"
#include "shell/startup.h"

namespace {
int titleFrames;
int tick;

void Button(int button, bool down) {
    if (down == (MouseIsDown(button) != 0)) return;
    InputEvent e{down ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP};
    e.code = button;
    PostInputEvent(e);
}

void Key(int code, bool down) {
    if (code < 10 || code > 254 || down == (KeyIsDown(code) != 0)) return;
    InputEvent e{down ? INPUT_KEY_DOWN : INPUT_KEY_UP};
    e.code = code;
    PostInputEvent(e);
}

// Player 1's control c (its bound key).
void Control(int c, bool down) { Key(Keys[c], down); }

void PressPad(int button, bool down) {
    if (down == (PadSlotHeld(0, button) != 0)) return;
    InputEvent e{down ? INPUT_PAD_DOWN : INPUT_PAD_UP};
    e.code = button;
    PostInputEvent(e);
}

void PadStick(int axis, float push) {
    int v = (int)std::lround(std::fmax(-1.0f, std::fmin(1.0f, push)) * 32767);
    if (v == PadSlotAxis(0, axis)) return;
    InputEvent e{INPUT_PAD_AXIS};
    e.code = axis;
    e.x = v;
    PostInputEvent(e);
}

// The pointer's launch and net buttons, on whichever device steers.
void Launch(bool down) {
    if (Options.autoplaySteer == 1) Control(10, down);
    else if (Options.autoplaySteer == 2) PressPad(PAD_SOUTH, down);
    else Button(1, down);
}
void Net(bool down) {
    if (Options.autoplaySteer == 1) Control(11, down);
    else if (Options.autoplaySteer == 2) PressPad(PAD_EAST, down);
    else Button(2, down);
}

// Holds left or right toward x, and lets go once the next step would carry
// the pointer past it by more than it leaves it short: the keys stop at
// once, so a player lets go just before the mark and nudges.
void KeysToward(double x) {
    double d = x - MouseXPos();
    int held = SteerHeldX();
    int dir = d > 0 ? 1 : -1;
    double next = KeyStep(held * dir > 0 ? (held < 0 ? -held : held) + 1 : 1);
    bool go = std::fabs(d) > next / 2;
    Control(5, go && dir > 0);
    Control(3, go && dir < 0);
}

// Pushes the stick just enough to reach x in one frame's move.
void StickToward(double x) {
    double d = x - MouseXPos();
    PadStick(PAD_LEFT_X, (float)std::copysign(StickPushFor((float)std::fabs(d)), d));
}

// Lets go of every key, button and stick the demo player may hold.
void LetGo() {
    Button(1, false);
    Button(2, false);
    for (int c : {0, 3, 5, 8, 10, 11}) Control(c, false);
    for (int b : {PAD_SOUTH, PAD_EAST, PAD_START}) PressPad(b, false);
    PadStick(PAD_LEFT_X, 0);
    PadStick(PAD_LEFT_Y, 0);
}

// Moves the pointer to a point in drawing coordinates.
void PointAt(double x, double y) {
    double sx = WindowWidth() > 0 ? (double)ViewWidth / WindowWidth() : 1;
    double sy = WindowHeight() > 0 ? (double)ViewHeight / WindowHeight() : 1;
    InputEvent e{INPUT_MOUSE_MOVE};
    e.x = (int)std::lround(x / sx);
    e.y = (int)std::lround(y / sy);
    PostInputEvent(e);
}

// Where a body coming down will be when it reaches height y, bouncing off
// the side walls on the way; frames is how long that takes.
double LandingX(const Pod& p, double y, double& frames) {
    const double W = ViewWidth, margin = p.ball ? 24 : 30;
    frames = (y - p.y) / (2 * p.gy);
    double x = p.x + 2 * p.gx * frames;
    double lo = margin, hi = W - margin, span = hi - lo;
    if (span <= 0) return p.x;
    double t = std::fmod(x - lo, 2 * span);
    if (t < 0) t += 2 * span;
    return lo + (t <= span ? t : 2 * span - t);
}

// Frames the steering takes to carry the pointer d units: keys from rest
// under their acceleration, the stick at its top speed.
double TravelFrames(double d) {
    d = std::fabs(d);
    if (Options.autoplaySteer == 2) return std::ceil(d / StickTop);
    int n = 0;
    for (double gone = 0; gone < d && n < 600;) gone += KeyStep(++n);
    return n;
}

// The pointer's x that puts the bat's centre at x.
double BatPointer(double x) { return (x - 640) / 1.2 + 640; }

// With keys or a stick the pointer cannot be anywhere at once, as the
// mouse's can: of the bodies coming down, the demo player goes for one it
// can still reach in time, a ball before a pod (a lost ball costs a life,
// a missed pod only points), the soonest first; stands clear of a spiked
// pod about to land as with the mouse; and opens the net only when it can
// get there and back to the bat in time.
void ChooseReachable(const GameState& g, double batY, double netY, double& pointerX, bool& useNet) {
    const double cur = MouseXPos();
    // Balls are sent toward the lowest segment: a ball met dead centre goes
    // straight up and down, and can miss a centipede until it lands.
    double aimX = -1, aimY = -1;
    for (const Pod& p : g.PodList)
        if (p.ball == 0 && p.free == 0 && p.y > aimY) aimX = p.x, aimY = p.y;
    // soonest: the first ball down.
    double bestKey = 1e18, best = -1, soonest = 1e9, spikeFrames = 1e9, spikeX = -1;
    double netTarget = -1, netSoonest = 1e9;
    for (const Pod& p : g.PodList) {
        // A ball launched as the bat moved off hangs where it left the bat,
        // without speed, until the bat comes back under it.
        if (p.ball == 1 && p.free == 1 && p.gx == 0 && p.gy == 0 && g.HomingPhase == 0) {
            bestKey = -1, best = p.x, soonest = 0;
            continue;
        }
        if (p.free != 1 || p.gy <= 0 || p.y > batY) continue;
        double frames = 0;
        double x = LandingX(p, batY, frames);
        if (p.spike == 1) {
            if (frames < spikeFrames) spikeFrames = frames, spikeX = x;
            continue;
        }
        if (p.ball == 1) soonest = std::fmin(soonest, frames);
        bool reachable = TravelFrames(BatPointer(x) - cur) <= frames;
        double key = (reachable ? 0 : 2e6) + (p.ball ? 0 : 1e6) + frames;
        // The bat's centre off the ball by a pixel for every ten to the
        // segment, at most 30 (a bat hit sends it 0.3 a frame sideways
        // per pixel off centre).
        double off = p.ball && aimX >= 0 ? std::fmax(-30.0, std::fmin(30.0, (x - aimX) / 10)) : 0;
        if (key < bestKey) bestKey = key, best = x + off;
        if (p.ball == 0 && p.y < netY - 40 && g.CaughtCount < 3) {
            double nf = 0;
            double nx = LandingX(p, netY, nf);
            if (nf < netSoonest && TravelFrames(nx - cur) <= nf) netSoonest = nf, netTarget = nx;
        }
    }
    double batTarget = best;
    if (spikeX >= 0 && spikeFrames < soonest) batTarget = spikeX < ViewWidth / 2 ? spikeX + 200 : spikeX - 200;
    double back = batTarget >= 0 ? TravelFrames(BatPointer(batTarget) - netTarget) : 0;
    // A pod reaches the net some frames after the net line is predicted
    // (the net opens over eight frames): a margin for that and the way back.
    useNet = netTarget >= 0 && netSoonest < 40 && std::fmin(soonest, spikeFrames) > netSoonest + back + 20;
    pointerX = useNet ? netTarget : BatPointer(batTarget >= 0 ? batTarget : ViewWidth / 2);
    // A slippery bat slides a twentieth of the pointer's distance from the
    // centre each frame, toward the pointer's side.
    if (g.SlipperyTimer > 0 && !useNet && batTarget >= 0)
        pointerX = ViewWidth / 2 + 20 * (batTarget - g.BatX);
}

// Pods netted in the present game (the report's count of the net at work).
int netted = 0, caughtBefore = 0;

void PlayGame() {
    const GameState& g = Game;
    const int H = ViewHeight;
    if (g.CaughtCount > caughtBefore) netted += g.CaughtCount - caughtBefore;
    caughtBefore = g.CaughtCount;
    if (g.ExitCode != 0 || g.BatLostClock > 0) {
        // Let go of everything: the name prompt waits for the buttons.
        LetGo();
        return;
    }
    PressPad(PAD_START, false);  // the press that started the game
    double batY = H - g.BatLift - 20, netY = H / 2 + 150;
    double batTarget = -1, soonest = 1e9, netTarget = -1, netSoonest = 1e9;
    bool resting = false;
    for (const Pod& p : g.PodList) {
        if (p.ball == 1 && p.free == 0) resting = true;
        if (p.free != 1 || p.gy <= 0 || p.y > batY) continue;
        double frames = 0;
        double x = LandingX(p, batY, frames);
        if (p.spike == 1) {
            // Never under a spiked pod: stand well clear of where it lands.
            if (frames < soonest) soonest = frames, batTarget = x < ViewWidth / 2 ? x + 200 : x - 200;
            continue;
        }
        if (frames < soonest) soonest = frames, batTarget = x;
        if (p.ball == 0 && p.y < netY - 40 && g.CaughtCount < 3) {
            double nf = 0;
            double nx = LandingX(p, netY, nf);
            if (nf < netSoonest) netSoonest = nf, netTarget = nx;
        }
    }
    bool useNet = netTarget >= 0 && netSoonest < 40 && soonest > netSoonest + 30;
    double pointerX = 640;
    if (useNet) pointerX = netTarget;
    else if (batTarget >= 0) pointerX = (batTarget - 640) / 1.2 + 640;
    else pointerX = (ViewWidth / 2 - 640) / 1.2 + 640;
    if (Options.autoplaySteer != 0) ChooseReachable(g, batY, netY, pointerX, useNet);
    // The bat low: the pointer at 600 (its lift there is the least).
    if (Options.autoplaySteer == 1) {
        KeysToward(pointerX);
        Control(8, CurrentMode == 0 && MouseYPos() < 569);
    } else if (Options.autoplaySteer == 2) {
        StickToward(pointerX);
        PadStick(PAD_LEFT_Y, CurrentMode == 0 && MouseYPos() < 569 ? StickPushFor(600 - MouseYPos()) : 0);
    } else {
        PointAt(pointerX, 600);
    }
    Net(useNet);
    Launch(resting && tick % 2 == 0);
}
}  // namespace

void AutoplayTick() {
    // The performance test runs for as many frames as this machine needs:
    // counting them would shift every later press by a machine-dependent
    // number of frames, so a seed would play a different game in a window
    // than headless.
    if (EngineTestRunning) return;
    tick++;
    if (NameEntryActive) {
        titleFrames = 0;
        if (Options.autoplaySteer == 2) {
            // The pad's south button is the left button, which confirms.
            PressPad(PAD_SOUTH, tick % 20 == 0);
            return;
        }
        if (tick % 20 == 0) {
            InputEvent e{INPUT_KEY_DOWN};
            e.code = 13;
            PostInputEvent(e);
            e.type = INPUT_KEY_UP;
            PostInputEvent(e);
        }
        return;
    }
    if (PlayState == 1) {
        titleFrames = 0;
        PlayGame();
        return;
    }
    if (PlayState != 0 || SettingsOpen) return;
    // The title: wait for it to slide in, then hold the start button down
    // for a few frames and let go.
    titleFrames++;
    bool press = titleFrames >= 62 && titleFrames < 66;
    if (Options.autoplaySteer == 1) {
        Control(10, press);
    } else if (Options.autoplaySteer == 2) {
        PressPad(PAD_START, press);
    } else {
        if (titleFrames == 60) PointAt(ViewWidth / 2, ViewHeight / 2);
        Button(1, press);
    }
    if (titleFrames > 120) titleFrames = 0;
}

void SaveAutoplayState(int& tickOut, int& titleFramesOut) {
    tickOut = tick;
    titleFramesOut = titleFrames;
}

void RestoreAutoplayState(int tickIn, int titleFramesIn) {
    tick = tickIn;
    titleFrames = titleFramesIn;
}

void ReportAutoplayGame() {
    std::printf("autoplay: mode %d score %d wave %d frames %d netted %d\n", CurrentMode, Game.GameScore,
                Game.WaveNumber, Game.FrameNo, netted);
    netted = 0;
    std::fflush(stdout);
}
