// One whole game: set-up, the frame in its fixed order, the wave cycle, and
// the ending with name entry and the filed score.
#include <algorithm>
#include <cmath>

#include "game/assets.h"
#include "game/autoplay.h"
#include "game/broadphase.h"
#include "game/game.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/nameentry.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/gamejournal.h"
#include "shell/startup.h"

namespace {
float DriftDirection() {
    float d = (float)RandomFloat(-1, 1);
    return std::fabs(d) < 0.25f ? 0.25f : d;
}
}  // namespace

void StartWave() {
    GameState& s = Game;
    const int mode = CurrentMode, wave = s.WaveNumber;
    s.AutoLaunchTimer = 360;
    s.HomingPhase = 0;
    s.WaveEndActive = 0;
    s.WaveEndClock = 0;
    s.WaveIntroTimer = 180;

    int q = (wave - 1) / 4;
    s.CentipedeSpeed = std::min(mode == 2 ? 3 * q + 7 : 2 * q + 5, 30);
    if (wave % 4 == 3) s.CentipedeSpeed = mode == 2 ? std::min(3 * q + 11, 30) : std::min(2 * q + 9, 28);

    s.CentipedesToSpawn = wave % 4 == 0 ? 1 : wave * (mode + 2);

    s.RoundTitle = "";
    if (wave % 4 == 1) s.RoundTitle = "Level Up";
    if (wave % 4 == 3) s.RoundTitle = "Speed Round";
    if (wave % 4 == 0) s.RoundTitle = "Focus Round";
    if (wave == 1) s.RoundTitle = "It Begins Again";
    if (wave == 2) s.RoundTitle = "So many pods";

    // A colour's channels are drawn last first (blue, green, red), values
    // before directions, the same order everywhere in the game.
    s.BackB = (float)RandomFloat(2, 6) * 10;
    s.BackG = (float)RandomFloat(2, 6) * 10;
    s.BackR = (float)RandomFloat(2, 6) * 10;
    s.BackDirB = DriftDirection();
    s.BackDirG = DriftDirection();
    s.BackDirR = DriftDirection();
}

void ResetGame() {
    Game = GameState{};
    GameState& s = Game;
    s.ReserveBalls = CurrentMode == 0 ? 5 : CurrentMode == 1 ? 3 : 0;
    Pod ball;
    ball.x = (float)(ViewWidth / 2);
    ball.y = (float)(ViewHeight - 40);
    ball.r = 80, ball.g = 255, ball.b = 80;
    ball.ball = 1;
    ball.free = 0;
    s.PodList.push_back(ball);
    s.WaveNumber = 1;
    StartWave();
}

namespace {
void PodPass() {
    const int H = ViewHeight;
    BeginPodPass();
    int index = 0;
    for (auto it = Game.PodList.begin(); it != Game.PodList.end(); ++index) {
        Pod& p = *it;
        p.rot += p.gx * 0.3f;
        SetDrawAngle(p.rot);
        if (p.ball == 1) {
            if (p.free == 1 && p.laugh == 0) StrikeCheck(p, index);
            UpdateBall(p);
        } else if (p.free == 1) {
            UpdateLoosePod(p);
            if (p.free == 1 && p.laugh == 0) StrikeCheck(p, index);
        } else {
            UpdateSegment(p);
        }
        // Bodies below the screen leave, segments too: kept, they would
        // walk on for ever and the wave could never be cleared.
        if (p.free == 2 || p.health == 6 || p.y > (float)(H + 64)) {
            PodRemoved(index);
            it = Game.PodList.erase(it);
        } else {
            PodTurnEnded(index, p);
            ++it;
        }
    }
}

void Tally() {
    GameState& s = Game;
    int& c = s.WaveEndClock;
    DrawTallyTexts();
    if (!s.MushroomList.empty() && c == 39) {
        c = 24;
        s.MushroomList.pop_back();
        PlaySfx(RandomInt(11, 15));
        s.GameScore += 100;
        s.MushroomBonusCount++;
    }
    SetImageFont(Fonts[8]);
    if (c > 40 && s.BallBonusLeft > -1) {
        SetTint(80, 255, 80, 0.8f);
        DrawTextAligned(ViewWidth / 2, 280, "Ball Bonus", 1, 1);
        // The balls paid so far: the ball this tally adds is not paid for.
        int k = s.BallBonusStart - s.BallBonusLeft;
        DrawTextAligned(ViewWidth / 2, 320, std::to_string(k) + " x " + "1000", 1, 1);
    }
    SetTint(80, 255, 255, 0.8f);
    DrawTextAligned(ViewWidth / 2, 480, "Score so far", 1, 1);
    DrawTextAligned(ViewWidth / 2, 520, std::to_string(s.GameScore), 1, 1);
    c++;
    if (c == 90 && s.BallBonusLeft > 0) {
        s.GameScore += 1000;
        s.BallBonusLeft--;
        c = 70;
        PlaySfx(19);
    }
    if (c == 40) {
        if (s.BallBonusLeft == 0) s.BallBonusLeft = -1;
        PlaySfx(14);
        AddRestingBall(255, 255, 255);
    }
    if (c == 150) {
        s.WaveNumber++;
        StartWave();
    }
}

void LoseBalls() {
    GameState& s = Game;
    const int H = ViewHeight;
    if (s.FrameLoose == 0 && s.GameOverFlag == 0 && s.FrameSegments > 0) {
        PlaySfx(18, 0.8f + (float)s.ReserveBalls / 8.0f, 1, 0);
        if (s.ReserveBalls == 0) {
            PlaySfx(18, 1, 1, 1);
            PlaySfx(18, 1.3f, 1, -1);
        }
        if (s.ReserveBalls > 0) {
            s.FrameLoose = 1;
            s.ReserveBalls--;
            Pod ball;
            ball.x = (float)s.RestX;
            ball.y = (float)(H - 30);
            ball.r = 255, ball.g = 255, ball.b = 80;
            ball.ball = 1;
            s.PodList.push_back(ball);
        }
    }
    if (s.FrameLoose == 0) {
        s.GameOverFlag = 1;
        if (s.BatLostClock == 0) {
            s.BatLostClock = 1;
            PlaySfx(18);
        }
    }
}

void WaveIntro() {
    GameState& s = Game;
    const int W = ViewWidth, H = ViewHeight;
    s.WaveIntroTimer--;
    int t = s.WaveIntroTimer;
    int banner = std::min(t, 60);
    if (t > 120) banner = t - 60;
    DrawWaveBanner(banner);
    if (t > 120) s.PlantPitch = 0.5f;
    if (t % 7 == 1 && t < std::min(7 * s.WaveNumber + 28, 120)) {
        s.PlantPitch += 0.05f;
        int y = RandomInt(90, H - 90);
        int x = RandomInt(60, W - 60);
        int b = RandomInt(2, 5) * 25;
        int g = RandomInt(2, 8) * 25;
        int r = RandomInt(4, 10) * 25;
        AddMushroom(x, y, r, g, b);
        PlaySfx(RandomInt(11, 15), s.PlantPitch, 1, 0);
    }
}

void ConfinePointer() {
    // Only a pointer outside the band is moved: warping it to where it
    // already is would round it through drawing coordinates and creep.
    float y = MouseYPos();
    float clamped = std::min(std::max(y, 200.0f), 600.0f);
    if (SettingsOpen == 0 && clamped != y) MoveMousePos(MouseXPos(), clamped);
}
}  // namespace

void GameFrameBody() {
    GameState& s = Game;
    const int H = ViewHeight;

    BeginFrame(s.SickTimer == 0 && s.SlipperyTimer == 0 ? 1 : 0);

    if (s.AutoLaunchTimer > 0) s.AutoLaunchTimer--;
    s.BackAlpha = 0.5f;
    if (s.SickTimer > 0) {
        s.BackAlpha = 0.04f;
        s.SickTimer--;
    }
    if (s.LoveBatTimer > 0) s.LoveBatTimer--;
    if (s.FlameTimer > 0) s.FlameTimer--;
    if (s.FreezeTimer > 0) s.FreezeTimer--;
    if (s.SlipperyTimer > 0) s.SlipperyTimer--;

    if (KeyHitCount(115)) {  // F4
        s.SlipperyTimer = 900;
        PracticeKeysUsed = true;
    }

    DrawBackground();

    ResetDrawState();
    s.FrameNo++;
    s.EntryRowBusy = 0;

    MushroomPass();

    s.FrameLoose = 0;
    s.FrameBalls = 0;
    s.FrameSegments = s.CentipedesToSpawn;  // those still to enter count as present

    PodPass();

    if (!MouseIsDown(1)) s.LaunchLatch = 0;

    SparkPass();

    if (s.BatLostClock > 0) s.ReserveBalls = 0;

    if (s.GameOverFlag == 0 && s.FrameSegments == 0 && s.WaveEndActive == 0 && s.BatLostClock == 0) {
        DrawClearTexts(s.FrameBalls);
        if (s.FrameLoose == s.FrameBalls) {
            s.HomingPhase = 1;
            s.WaveEndActive = 1;
            s.WaveEndClock = 1;
            s.BallBonusLeft = s.FrameBalls;
            s.BallBonusStart = s.FrameBalls;
            s.MushroomBonusCount = 0;
        }
    }

    if (s.WaveEndActive == 1) Tally();

    if (s.HomingPhase == 0) LoseBalls();

    if (s.BatLostClock > 0) {
        s.GameOverFlag = 1;
        s.BatLostClock++;
        if (s.BatLostClock < 40)
            AddSparks(20, (float)s.RestX, (float)(H - 20), -16, 16, -16, -2, 100, 255, 100);
        if (s.BatLostClock == 120) s.ExitCode = 1;
    }

    if (KeyHitCount(114)) {  // F3
        AddRestingBall(255, 255, 80);
        PracticeKeysUsed = true;
    }

    if (s.EntryRowBusy == 0 && RandomInt(0, 60) == 1 && s.CentipedesToSpawn > 0 && s.WaveIntroTimer == 0) {
        s.CentipedesToSpawn--;
        if (s.WaveNumber % 4 == 0) SpawnCentipede(3, s.CentipedeSpeed);
        else SpawnCentipede(RandomInt(8, 20), s.CentipedeSpeed);
    }

    s.PodSpeedCap = 4;
    SetDrawAngle(0);
    SetTint(80, 255, 80);

    UpdateBat();

    if (s.WaveIntroTimer > 0) WaveIntro();

    NetRow();
    DrawHud();
    ConfinePointer();
    UpdateNet();
}

bool GameFrame() {
    GameFrameBody();
    if (FinishFrame(0) == 99) Game.ExitCode = 99;
    if (Game.ExitCode != 0) {
        DrawGameOver();
        return false;
    }
    return true;
}

void RunGame() {
    ResetGame();
    while (GameFrame()) {
    }
    WaitUntilMs(Millisecs() + 1500);
    PlayState = 0;
    EnterName();
    EndGameJournal(FileScoreRecord(Game.GameScore, CurrentMode, Game.ExitCode == 99 ? 1 : 0));
    if (Options.autoplay) ReportAutoplayGame();
}
