// Playing without a mouse. The keys of the Keys table and gamepads work the
// game's pointer and its two buttons, the way a mouse does: the game itself
// still reads only the pointer and the buttons, so its rules, its frame and
// its random draws are the same whatever steers.
#pragma once

// A held direction key (or the direction pad) moves the pointer KeyNudge
// drawing units a frame for its first KeyNudgeFrames frames, so a tap (a
// twelfth of a second) is a fine nudge of 15 units, then KeyRamp more each
// frame up to KeyTop: a full crossing of the bat's travel (about 1065
// units) takes 24 frames, 0.4 s. Letting go stops at once.
constexpr float KeyNudge = 3, KeyRamp = 8, KeyTop = 72;
constexpr int KeyNudgeFrames = 5;
// The stick does nothing inside StickDeadZone; from there to StickFull the
// speed grows with the square of the push, to StickTop units a frame, so
// that small corrections are easy and a full push crosses in half a second.
constexpr float StickDeadZone = 0.15f, StickFull = 0.95f, StickTop = 40;
// Outside a game the stick moves the pointer (to work the title and the
// settings panel) at this share of its game speed.
constexpr float StickPointerShare = 0.6f;
// A trigger opens the net once pushed past this.
constexpr float TriggerHeld = 0.5f;

// Units a held direction moves the pointer on its frames-th frame (from 1).
float KeyStep(int frames);
// Units a frame for a stick push of -1..1 (signed like the push).
float StickStep(float push);
// The push, 0..1, that moves the pointer by units in a frame (the demo
// player's stick).
float StickPushFor(float units);
// Frames the present left or right has been held: positive right, negative
// left, 0 when neither (the demo player reads it).
int SteerHeldX();

// Once a frame, where the frame hub lets the demo player act: moves the
// pointer for the held keys, direction pad and stick.
void SteerTick();
// The input poll's hook (SetPollHook): turns player 1's bottom and right
// buttons (in a game) and the pad's south and east buttons and triggers
// into the pointer's left and right buttons.
void SteerPollHook();
// True once after a pad was unplugged during a game it had played in (the
// game then pauses, as it would for Escape).
bool PadLeftMidGame();
// Whether a pad has been used in the present game, and setting it back
// (a game journal starts from the state the game found).
bool PadPlayedInGame();
void SetPadPlayedInGame(bool played);
// Forgets the steering's state (tests).
void ResetSteering();
