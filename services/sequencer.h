// A small step sequencer that plays a drum loop from four 32-step text
// patterns and up to six drum samples. The frame hub ticks it once per frame;
// it stays at rest (and plays nothing) until StartSequencer is called.
#pragma once

#include <functional>
#include <string>

#include "media/audio.h"

extern SoundRef DrumSounds[7];          // slots 1..6
extern std::string DrumPatterns[5];     // tracks 1..4
extern int TrackOn[5];                  // 1 when the track plays this bar
extern int TrackStep[5];                // 0-based step; -1 before the first
extern int SequencerRunning;
extern int StepFrames;                  // frames between steps
extern int BarBeats;                    // a bar has BarBeats * 4 steps
extern int SequencerClock;              // frames since start
extern int NextStepFrame;               // clock value of the next step

// Loads "d1.wav".."d6.wav" from the folder "Instruments" beside the game
// folder into DrumSounds (missing files leave their slot empty), then
// returns to the folder it was called from.
void LoadDrumSounds();
// Sets the four patterns, switches track 1 on and starts playing.
void StartSequencer();
// One frame: plays a step every StepFrames frames while running; rewinds the
// clock while at rest.
void SequencerTick();
// Stops what the channel in that slot of Channels plays and plays sound on a
// fresh channel there (PlayOnSlot: the slot's volume, music for 0..19).
void PlayDrumOnSlot(int slot, const SoundRef& sound);

// Test seam: when set, a step that hits drum n (with a loaded sample) calls
// this instead of playing it.
extern std::function<void(int slot, int drum)> DrumHitHook;
