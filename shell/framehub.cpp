#include "shell/framehub.h"

#include <algorithm>

#include "game/assist.h"
#include "game/autoplay.h"
#include "game/steer.h"

#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/online.h"
#include "services/popups.h"
#include "services/sequencer.h"
#include "shell/display.h"
#include "shell/replay.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "shell/watch.h"

ChannelRef Channels[260];
int FrameTimeMark;
int FrameRate;
int ShowFrameRate = 1;
int FrameSkipPhase;
int FrameMouseX, FrameMouseY, PrevMouseX, PrevMouseY;
int FrameLeftClicks, FrameRightClicks;
int SettingsOpen;
long long FrameCounter;
std::list<std::shared_ptr<Message>> MessageList;
int (*FrameRateOverride)() = nullptr;
void (*FrameInputHook)() = nullptr;

namespace {
int g_rateAverage = 0;
// A pad's Start pauses once it has been let go in the game: the press that
// started the game from the title must not pause it at once.
bool g_padStartReady = false;
}

int FrameRateSmoothing() { return g_rateAverage; }
void SetFrameRateSmoothing(int average) { g_rateAverage = average; }

void AddMessage(const std::string& text, int c) {
    auto m = std::make_shared<Message>();
    m->txt = text;
    m->c = c;
    MessageList.push_back(m);
}

float SlotVolume(int slot) {
    // The volumes come from "Setup.ini" unclamped, so the product is taken
    // in 64 bits: two large values must not overflow into a wrong (or
    // undefined) result. The channel clamps what it is given.
    long long level = slot < 20 ? Settings[13] : Settings[12];
    long long v = level * Settings[11] / 100;
    return (float)v / 100.0f;
}

long long ExtraPresents;

void PresentFrame(int sync, bool outsideHub) {
    // Pictures are numbered by the frames ended so far plus the pictures
    // presented outside the frame hub; --grab saves the first presented
    // picture at or after the number asked for (a frame that frame skipping
    // does not present has no sprites).
    // A watched replay is held here, at its recorded pace.
    if (WatchingReplay()) WatchReplayFrame();
    long long number = FrameCounter + 1 + ExtraPresents;
    for (auto& g : Options.grabs) {
        if (g.first > 0 && g.first <= number) {
            SavePixmapAsPng(GrabPixmap(0, 0, WindowWidth(), WindowHeight()), g.second, 6);
            g.first = -1;
        }
    }
    Flip(sync);
    if (outsideHub) ExtraPresents++;
}

ChannelRef PlayOnSlot(int slot, const SoundRef& sound, float rate, float pan, float volume) {
    if (slot < 0 || slot >= 260) return nullptr;
    // Stopped before a new channel is made: a back end may hand out the
    // old channel's voice again once it is free.
    if (Channels[slot]) Channels[slot]->Stop();
    Channels[slot].reset();
    if (!sound) return nullptr;
    ChannelRef ch = CueSound(sound, AllocChannel());
    if (!ch) return nullptr;
    ch->SetVolume(SlotVolume(slot) * volume);
    ch->SetPan(pan);
    ch->SetRate(rate);
    ch->SetPaused(false);
    Channels[slot] = ch;
    return ch;
}

namespace {
void ChannelUpkeep() {
    for (int slot = 0; slot <= 256; slot++) {
        ChannelRef& ch = Channels[slot];
        if (ch && !ch->Playing()) ch.reset();
        if (ch) ch->SetVolume(SlotVolume(slot));
    }
}

void DrawMessages() {
    SetDrawScale(1);
    SetImageFont(Fonts[3]);
    // The message font's line is taller than the 16 units the classic
    // positions allow for (20 at 1280 x 960, 28 at 800 x 600): with a
    // fixed 16 and 14 the lowest line is cut off at the bottom edge and each
    // line hides the one below. So the stack starts a line above the edge
    // and lines stand a line less two rows apart; a font of 16 units or
    // less keeps the classic 16 and 14.
    int line = std::max(16, TextHeight());
    int y = ViewHeight - line;
    for (auto it = MessageList.begin(); it != MessageList.end();) {
        Message& m = **it;
        m.tick++;
        SetColor(0, 0, 0);
        SetAlpha(0.7f);
        if (m.tick < 60) {
            SetColor(255, 255, 0);
            SetAlpha(0.7f);
        }
        DrawRect(0, (float)y, (float)TextWidth(m.txt), (float)TextHeight());
        SetColor(255, 255, 255);
        SetAlpha(1);
        if (m.tick < 60) {
            SetColor(0, 0, 0);
            SetAlpha(1);
        }
        DrawText(m.txt, 0, (float)y);
        y -= std::max(14, line - 2);
        if (m.tick == 180) it = MessageList.erase(it);
        else ++it;
    }
}
}  // namespace

int FinishFrame(int showPointer) {
    int pauseResult = 0;

    ChannelUpkeep();
    TickPopups();

    if (KeyHitCount(9) || KeyHitCount(123)) {
        SettingsOpen = 1 - SettingsOpen;
        SaveSetup();
    }
    AssistKeyTick();

    if (FrameSkipPhase == 0 || Settings[7] != 1) {
        if (KeyHitCount(122)) TakeScreenshot();
        // A pad's Start pauses as Escape does; so does unplugging the pad
        // a game is being played with.
        bool padLeft = PadLeftMidGame();
        bool escape = KeyIsDown(27) != 0;
        bool start = PadHeldNow(PAD_START) != 0;
        if (PlayState != 1 || !start) g_padStartReady = PlayState == 1;
        if ((escape || (start && g_padStartReady) || padLeft) && PlayState == 1) {
            PlayState = 2;
            int pausedAt = Millisecs();
            pauseResult = PauseScreen();
            PlayState = 1;
            // The game's clock does not count the time spent paused.
            GameStartTime = (int)((uint32_t)GameStartTime + (uint32_t)MsDiff(Millisecs(), pausedAt));
        }
    }

    SettingsPanel();

    ResetDrawState();
    SetDrawScale(1.5f);
    SetImageFont(Fonts[1]);
    if (ShowFrameRate == 1) DrawText(std::to_string(FrameRate), 2, 2);

    if (showPointer == 1 || SettingsOpen == 1) {
        SetColor(255, 255, 255);
        DrawImage(IconSheetSmooth, (float)(FrameMouseX + 12), (float)(FrameMouseY + 12), 63);
    }

    HoldPointer(PlayState == 1);
    if (FullScreenLeft() && Settings[1] == 1) {
        Settings[1] = 0;
        SaveSetup();
    }
    if (JoysticksChanged()) CountJoysticksAgain();

    // The demo player acts as the mouse and keys would, and held keys and
    // pads move the pointer, before this frame's pointer and clicks are
    // taken for the next.
    if (Options.autoplay) AutoplayTick();
    if (FrameInputHook) FrameInputHook();
    SteerTick();

    PrevMouseX = FrameMouseX;
    PrevMouseY = FrameMouseY;
    FrameMouseX = (int)MouseXPos();
    FrameMouseY = (int)MouseYPos();
    FrameLeftClicks = MouseHitCount(1);
    FrameRightClicks = MouseHitCount(2);

    // The frame's drawing goes to GL before the wait, so that a slow (or
    // software) rasteriser fills pixels while we sleep rather than after.
    SubmitDrawing();
    // 2 ms short of a 60th of a second after the previous frame's end; the
    // bound is real-valued (14.67 ms), so a whole-millisecond clock needs 15.
    // The step is 1 ms on the desktop; it is read from the unjournaled
    // clock, so a journal holds the same readings whatever the step.
    const double bound = 1000.0 / 60.0 - 2.0;
    do {
        SleepMs(PacingStepMs(bound - (double)MsDiff(PeekMillisecs(), FrameTimeMark)));
    } while ((double)MsDiff(Millisecs(), FrameTimeMark) < bound);

    SequencerTick();
    // The score server's news join the messages (a worker thread brought
    // them; nothing here waits for one).
    OnlineFrame();
    DrawMessages();

    bool present = Settings[7] != 1 || FrameSkipPhase == 0;
    if (present) PresentFrame(0, false);

    int dt = MsDiff(Millisecs(), FrameTimeMark);
    if (dt < 1) dt = 1;
    g_rateAverage = (1000 / dt + 2 * g_rateAverage) / 3;
    FrameRate = FrameRateOverride ? FrameRateOverride() : g_rateAverage;
    FrameTimeMark = Millisecs();

    FrameSkipPhase = 1 - FrameSkipPhase;

    FrameCounter++;
    JournalFrameEnd();
    if (Options.frames > 0 && FrameCounter >= Options.frames) ShutDown();
    return pauseResult;
}
