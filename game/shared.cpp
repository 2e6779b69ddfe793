// Routines every part of the game shares: sound effects, points, sparks,
// mushrooms, new balls, the colour classes and the state checksum.
#include <cmath>
#include <cstring>
#include <iterator>

#include "game/assets.h"
#include "game/state.h"
#include "media/system.h"
#include "services/popups.h"
#include "shell/display.h"
#include "shell/framehub.h"

GameState Game;
// Starts one short of the first effect slot, so the first effect plays on
// slot 20 and never on a music slot.
int SfxSlot = 19;

void CreateGameTables() { Game = GameState{}; }


void PlaySfx(int id, float rate, float volume, float pan) {
    if (id < 1 || id > 200 || !SoundEffects[id]) return;
    SfxSlot++;
    if (SfxSlot >= 256) SfxSlot = 20;
    volume = std::fmin(std::fmax(volume, 0.0f), 1.0f);
    rate = std::fmin(std::fmax(rate, 0.25f), 4.0f);
    pan = std::fmin(std::fmax(pan, -1.0f), 1.0f);
    // The effect's own volume scales the effect-and-master volume the frame
    // hub keeps every effect slot at; whatever still plays there is stopped.
    PlayOnSlot(SfxSlot, SoundEffects[id], rate, pan, volume);
}

void AddPoints(int points, int x, int y, int r, int g, int b) {
    Game.GameScore += points;
    AddPopup(points, x, y, r, g, b);
}

int ColourClass(int r, int g, int b) {
    int k = 1;
    if (r > 200 && g > 100 && b < 100) k = 2;
    if (r > 200 && g > 200 && b < 100) k = 3;
    if (r < 100 && g > 200 && b < 100) k = 4;
    if (r < 100 && g > 200 && b > 200) k = 5;
    if (r < 100 && g < 200 && b > 200) k = 6;
    if (r > 200 && g < 100 && b > 200) k = 7;
    return k;
}

void AddSpark(float x, float y, float gx, float gy, int r, int g, int b) {
    Particle p;
    p.x = x;
    p.y = y;
    p.gx = gx;
    p.gy = gy;
    p.r = r;
    p.g = g;
    p.b = b;
    p.alp = 1;
    Game.ParticleList.push_back(p);
}

void AddSparks(int n, float x, float y, float xa, float xb, float ya, float yb, int r, int g, int b) {
    for (int i = 0; i < n; i++) {
        float gy = (float)RandomFloat(ya, yb);
        float gx = (float)RandomFloat(xa, xb);
        AddSpark(x, y, gx, gy, r, g, b);
    }
}

Mushroom& AddMushroom(int x, int y, int r, int g, int b) {
    Mushroom m;
    m.x = x;
    m.y = y;
    m.h = 1;
    m.r = r;
    m.g = g;
    m.b = b;
    // The list is always sorted, so a stable re-sort after appending puts
    // the new one just after the last mushroom that does not sort after it:
    // insert it there directly.
    auto at = Game.MushroomList.end();
    while (at != Game.MushroomList.begin() && std::prev(at)->Compare(m) > 0) --at;
    return *Game.MushroomList.insert(at, m);
}

void AddRestingBall(int r, int g, int b) {
    Pod p;
    p.x = (float)Game.RestX;
    p.y = (float)(ViewHeight - 30);
    p.r = r;
    p.g = g;
    p.b = b;
    p.ball = 1;
    p.free = 0;
    Game.PodList.push_back(p);
}

namespace {
struct Hasher {
    uint64_t h = 1469598103934665603ull;
    void Bytes(const void* p, size_t n) {
        const unsigned char* c = (const unsigned char*)p;
        for (size_t i = 0; i < n; i++) h = (h ^ c[i]) * 1099511628211ull;
    }
    template <class T> void Value(const T& v) { Bytes(&v, sizeof v); }
    // Counts go in as 64 bits: size_t is narrower on some machines (32 bits
    // in WebAssembly), and a checksum must not depend on the machine.
    void Count(size_t n) { Value((uint64_t)n); }
    void Text(const std::string& s) {
        Count(s.size());
        Bytes(s.data(), s.size());
    }
};
}  // namespace

uint64_t GameChecksum() {
    Hasher hs;
    const GameState& s = Game;
    // The records are plain ints and floats with no padding, so their bytes
    // are their values.
    hs.Count(s.PodList.size());
    for (const Pod& p : s.PodList) hs.Value(p);
    hs.Count(s.MushroomList.size());
    for (const Mushroom& m : s.MushroomList) hs.Value(m);
    hs.Count(s.ParticleList.size());
    for (const Particle& p : s.ParticleList) hs.Value(p);
    // Every scalar field from GameScore on, the strings apart.
    hs.Value(s.GameScore), hs.Value(s.WaveNumber), hs.Value(s.CentipedeSpeed);
    hs.Value(s.CentipedesToSpawn), hs.Value(s.AutoLaunchTimer), hs.Value(s.HomingPhase);
    hs.Value(s.WaveEndActive), hs.Value(s.WaveEndClock), hs.Value(s.BallBonusLeft);
    hs.Value(s.MushroomBonusCount), hs.Value(s.BallBonusStart);
    hs.Text(s.RoundTitle);
    hs.Value(s.BatLostClock), hs.Value(s.LaunchLatch);
    hs.Text(s.PowerMessage);
    hs.Value(s.SickTimer), hs.Value(s.LoveBatTimer), hs.Value(s.FlameTimer);
    hs.Value(s.FreezeTimer), hs.Value(s.SlipperyTimer), hs.Value(s.SlipDrift);
    hs.Value(s.WaveIntroTimer), hs.Value(s.PlantPitch), hs.Value(s.PodSpeedCap);
    hs.Value(s.NetOpen), hs.Value(s.NetScale), hs.Value(s.CaughtCount);
    hs.Value(s.CaughtColour), hs.Value(s.CaughtGrow), hs.Value(s.CaughtAge);
    hs.Value(s.BackR), hs.Value(s.BackG), hs.Value(s.BackB);
    hs.Value(s.BackDirR), hs.Value(s.BackDirG), hs.Value(s.BackDirB), hs.Value(s.BackAlpha);
    hs.Value(s.ReserveBalls), hs.Value(s.BatX), hs.Value(s.BatLift), hs.Value(s.BatWidth);
    hs.Value(s.RestX), hs.Value(s.GameOverFlag), hs.Value(s.ExitCode), hs.Value(s.FrameNo);
    hs.Value(s.FrameLoose), hs.Value(s.FrameBalls), hs.Value(s.FrameSegments);
    hs.Value(s.EntryRowBusy);
    hs.Value(RandomState());
    hs.Value(SfxSlot);
    hs.Count(PopupList.size());
    for (const auto& p : PopupList) hs.Value(*p);
    return hs.h;
}
