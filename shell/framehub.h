// The frame hub: the work every screen's frame ends with.
#pragma once
#include <list>
#include <memory>
#include <string>

#include "media/audio.h"

extern ChannelRef Channels[260];
extern int FrameTimeMark;
extern int FrameRate;
extern int ShowFrameRate;
extern int FrameSkipPhase;
extern int FrameMouseX, FrameMouseY, PrevMouseX, PrevMouseY;
extern int FrameLeftClicks, FrameRightClicks;
extern int SettingsOpen;
// Counts every FinishFrame call (for --frames).
extern long long FrameCounter;
// The running average the frame rate is smoothed with (a game journal
// starts from it).
int FrameRateSmoothing();
void SetFrameRateSmoothing(int average);

struct Message {
    int tick = 0;
    std::string txt;
    int c = 0;
};
extern std::list<std::shared_ptr<Message>> MessageList;
void AddMessage(const std::string& text, int c = 0);

// Presents the back buffer (Flip with sync), saving it first when --grab
// asks for this picture. Screens that present outside FinishFrame (the
// game's "Game Over") pass outsideHub = true, so their pictures count.
void PresentFrame(int sync, bool outsideHub);
extern long long ExtraPresents;

// Ends a frame; returns the pause screen's result when it ran, else 0.
int FinishFrame(int showPointer);

// The volume (0..1 for settings within 0..100) that the channel in a slot of
// Channels plays at: music x master for slots 0..19, sound x master above.
float SlotVolume(int slot);

// Plays a sound on a channel slot: the one way the program starts a sound
// (title music, drum hits, the splash jingle, the game's effects). Stops
// whatever the slot's channel still holds, cues the sound on a fresh
// channel stored in the slot, sets its volume to SlotVolume(slot) x volume
// (the rule the upkeep keeps to every frame), its pan and rate, and starts
// it. The caller clamps volume, rate and pan to its own ranges. A slot
// outside 0..259 does nothing; no sound, or no channel to be had, leaves the
// slot empty. Returns the slot's channel (null when empty).
ChannelRef PlayOnSlot(int slot, const SoundRef& sound, float rate = 1, float pan = 0,
                      float volume = 1);

// The framework screens the hub runs (screens/): the screenshot, the pause
// screen (1 continue, 99 quit) and the settings panel.
void TakeScreenshot();
int PauseScreen();
void SettingsPanel();
extern int PanelOffset;  // the settings panel's slide offset; rests at -300

// Test seam: when set, the frame rate computed at the end of each frame is
// replaced by what this returns (the performance test's rate curve).
extern int (*FrameRateOverride)();
// Test seam: called once a frame where the demo player acts, after the
// frame's own work and before its pointer and clicks are sampled for the
// next (the whole-game fuzz target checks the state there and posts the
// next frame's input, as a player would).
extern void (*FrameInputHook)();
