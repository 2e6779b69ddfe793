// Control bindings: the name of every binding code, capturing a new binding
// from whatever the player holds, the binding button of the settings panel
// and the polling of a bound control.
#pragma once
#include <string>

// Binding codes: 1..255 keyboard keys (virtual-key numbering); 300 and up a
// joystick input, j * 50 + 250 + offset for joystick j = 1..4 (offsets 0..11
// axes below/above rest, 20/23/25/28 hat up/left/right/down, 30 + b button b).
std::string KeyName(int code);
// The code of the first input held right now (lowest key first, then each
// enabled joystick's axes, hat and buttons), or 0.
int CaptureBinding();
// The 48 x 48 binding button of one Keys slot at (x, y); the caller sets the
// colour and the font.
void BindingButton(int slot, int x, int y);
// 1 while control c of player p is held: a key, or a joystick axis past its
// rest value by more than 0.3, a hat direction or a button, so a bound
// gamepad works the menus.
int ControlDown(int c, int p);
// 1 while the joystick input of a binding code 300 and up is held (enabled
// joysticks only; a hat that was not centred at start-up never is).
int JoystickCodeDown(int code);
// 1 when code is a keyboard code 10..254 and that key is held.
int KeyCodeDown(int code);
// 1 while control c of player 1 is bound to a key that is held, read from
// the tables without an input poll (KeyHeldNow): for per-frame work that
// must not add polls.
int ControlKeyHeldNow(int c);
