// The SDL event pump: events pushed into SDL's queue for our window reach the
// input tables through the input queries; events for other windows and the
// close request do not. Also the key mapping and the SDL virtual joystick.
#include "media/graphics.h"
#include "media/graphics_internal.h"
#include "media/system.h"

#include <SDL.h>
#include "tests/support/skip.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

class SdlInput : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) WORMLOB_SKIP("no X display (run under xvfb-run)");
        ForceNullGraphics(false);
        SelectGraphicsBackend(OpenGLBackend(), 2);
        ASSERT_NE(OpenDisplay(800, 600, 0, 0, 0), nullptr) << DisplayError();
        // Drop whatever the window system sent on opening (focus, exposure).
        KeyIsDown(0);
        ResetInputTables();
        id = gfx::GlWindowId();
    }
    void TearDown() override { CloseDisplay(); }

    void Key(bool down, SDL_Scancode sc, SDL_Keycode sym, bool repeat = false, Uint32 window = 0) {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = window ? window : id;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.repeat = repeat;
        e.key.keysym.scancode = sc;
        e.key.keysym.sym = sym;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    void Text(const char* s) {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = SDL_TEXTINPUT;
        e.text.windowID = id;
        std::strncpy(e.text.text, s, sizeof e.text.text - 1);
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    void Window(Uint8 what) {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = id;
        e.window.event = what;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    void Button(bool down, Uint8 b, int x, int y) {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = id;
        e.button.button = b;
        e.button.x = x, e.button.y = y;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    Uint32 id = 0;
};

TEST_F(SdlInput, HeldKeyWithAutoRepeatCountsOneHitButRepeatsCharacters) {
    Key(true, SDL_SCANCODE_Z, SDLK_z);
    Text("z");
    for (int i = 0; i < 5; ++i) {
        Key(true, SDL_SCANCODE_Z, SDLK_z, true);
        Text("z");
    }
    EXPECT_EQ(KeyHitCount(90), 1);
    EXPECT_EQ(KeyHitCount(90), 0);
    EXPECT_EQ(KeyIsDown(90), 1);
    int chars = 0;
    while (int c = NextTypedChar()) {
        EXPECT_EQ(c, 'z');
        ++chars;
    }
    EXPECT_EQ(chars, 6);
    Key(false, SDL_SCANCODE_Z, SDLK_z);
    EXPECT_EQ(KeyIsDown(90), 0);
}

TEST_F(SdlInput, TwoPressesBetweenReadsCountTwo) {
    Key(true, SDL_SCANCODE_SPACE, SDLK_SPACE);
    Key(false, SDL_SCANCODE_SPACE, SDLK_SPACE);
    Key(true, SDL_SCANCODE_SPACE, SDLK_SPACE);
    Key(false, SDL_SCANCODE_SPACE, SDLK_SPACE);
    EXPECT_EQ(KeyHitCount(32), 2);
    EXPECT_EQ(KeyIsDown(32), 0);
}

TEST_F(SdlInput, FocusLossClearsAHeldKeyUntilPressedAgain) {
    Key(true, SDL_SCANCODE_LEFT, SDLK_LEFT);
    EXPECT_EQ(KeyIsDown(37), 1);
    Window(SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(KeyIsDown(37), 0);
    Window(SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(KeyIsDown(37), 0);
    EXPECT_EQ(KeyHitCount(37), 0);
    Key(true, SDL_SCANCODE_LEFT, SDLK_LEFT);
    EXPECT_EQ(KeyIsDown(37), 1);
}

TEST_F(SdlInput, PointerInAVirtualResolutionAndButtons) {
    SetResolution(1280, 960);
    Button(true, SDL_BUTTON_LEFT, 400, 300);
    EXPECT_FLOAT_EQ(MouseXPos(), 640.0f);
    EXPECT_FLOAT_EQ(MouseYPos(), 480.0f);
    EXPECT_EQ(MouseIsDown(1), 1);
    Button(true, SDL_BUTTON_RIGHT, 400, 300);
    Button(true, SDL_BUTTON_MIDDLE, 400, 300);
    EXPECT_EQ(MouseHitCount(2), 1);
    EXPECT_EQ(MouseHitCount(3), 1);
    Button(false, SDL_BUTTON_LEFT, 10, 20);
    EXPECT_EQ(MouseIsDown(1), 0);
    EXPECT_EQ(MouseHitCount(1), 1);
    EXPECT_FLOAT_EQ(MouseXPos(), 16.0f);
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = id;
    e.wheel.y = 3;
    SDL_PushEvent(&e);
    EXPECT_EQ(MouseWheel(), 3);
}

TEST_F(SdlInput, MovingAndHidingThePointer) {
    SetResolution(1280, 960);
    MoveMousePos(640, 480);
    EXPECT_FLOAT_EQ(MouseXPos(), 640.0f);
    // The window system's own report of the warp agrees with the tables.
    SDL_Delay(50);
    KeyIsDown(0);
    EXPECT_FLOAT_EQ(MouseXPos(), 640.0f);
    EXPECT_FLOAT_EQ(MouseYPos(), 480.0f);
    int x = -1, y = -1;
    SDL_GetMouseState(&x, &y);
    EXPECT_EQ(x, 400);
    EXPECT_EQ(y, 300);
    HideMouse();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    SDL_ShowCursor(SDL_ENABLE);
}

TEST_F(SdlInput, OtherWindowsAndTheCloseRequestAreIgnored) {
    Key(true, SDL_SCANCODE_A, SDLK_a, false, id + 100);
    EXPECT_EQ(KeyIsDown(65), 0);
    SDL_Event q;
    std::memset(&q, 0, sizeof q);
    q.type = SDL_QUIT;
    SDL_PushEvent(&q);
    Window(SDL_WINDOWEVENT_CLOSE);
    KeyIsDown(0);
    EXPECT_TRUE(DisplayIsOpen());
}

TEST_F(SdlInput, TextBecomesUtf16CodeUnitsAndControlKeysTypeCharacters) {
    Text("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");  // a, e-acute, euro, an emoji
    Key(true, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE);
    Key(true, SDL_SCANCODE_RETURN, SDLK_RETURN);
    EXPECT_EQ(NextTypedChar(), 'a');
    EXPECT_EQ(NextTypedChar(), 0xE9);
    EXPECT_EQ(NextTypedChar(), 0x20AC);
    EXPECT_EQ(NextTypedChar(), 0xD83D);
    EXPECT_EQ(NextTypedChar(), 0xDE00);
    EXPECT_EQ(NextTypedChar(), 8);
    EXPECT_EQ(NextTypedChar(), 13);
    EXPECT_EQ(NextTypedChar(), 0);
}

TEST(KeyMapping, EveryNamedKeyCodeIsReachable) {
    using gfx::VirtualKeyFromSdl;
    struct Case {
        SDL_Scancode sc;
        SDL_Keycode sym;
        int vk;
    } cases[] = {
        {SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, 8}, {SDL_SCANCODE_TAB, SDLK_TAB, 9},
        {SDL_SCANCODE_CLEAR, SDLK_CLEAR, 12}, {SDL_SCANCODE_RETURN, SDLK_RETURN, 13},
        {SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, 13}, {SDL_SCANCODE_PAUSE, SDLK_PAUSE, 19},
        {SDL_SCANCODE_CAPSLOCK, SDLK_CAPSLOCK, 20}, {SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 27},
        {SDL_SCANCODE_SPACE, SDLK_SPACE, 32}, {SDL_SCANCODE_PAGEUP, SDLK_PAGEUP, 33},
        {SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN, 34}, {SDL_SCANCODE_END, SDLK_END, 35},
        {SDL_SCANCODE_HOME, SDLK_HOME, 36}, {SDL_SCANCODE_LEFT, SDLK_LEFT, 37},
        {SDL_SCANCODE_UP, SDLK_UP, 38}, {SDL_SCANCODE_RIGHT, SDLK_RIGHT, 39},
        {SDL_SCANCODE_DOWN, SDLK_DOWN, 40}, {SDL_SCANCODE_SELECT, SDLK_SELECT, 41},
        {SDL_SCANCODE_EXECUTE, SDLK_EXECUTE, 43}, {SDL_SCANCODE_PRINTSCREEN, SDLK_PRINTSCREEN, 44},
        {SDL_SCANCODE_INSERT, SDLK_INSERT, 45}, {SDL_SCANCODE_DELETE, SDLK_DELETE, 46},
        {SDL_SCANCODE_0, SDLK_0, 48}, {SDL_SCANCODE_9, SDLK_9, 57},
        {SDL_SCANCODE_A, SDLK_a, 65}, {SDL_SCANCODE_Z, SDLK_z, 90},
        {SDL_SCANCODE_X, SDLK_x, 88}, {SDL_SCANCODE_C, SDLK_c, 67}, {SDL_SCANCODE_V, SDLK_v, 86},
        {SDL_SCANCODE_LGUI, SDLK_LGUI, 91}, {SDL_SCANCODE_RGUI, SDLK_RGUI, 92},
        {SDL_SCANCODE_KP_0, SDLK_KP_0, 96}, {SDL_SCANCODE_KP_9, SDLK_KP_9, 105},
        {SDL_SCANCODE_KP_MULTIPLY, SDLK_KP_MULTIPLY, 106}, {SDL_SCANCODE_KP_PLUS, SDLK_KP_PLUS, 107},
        {SDL_SCANCODE_KP_MINUS, SDLK_KP_MINUS, 109}, {SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, 110},
        {SDL_SCANCODE_KP_DIVIDE, SDLK_KP_DIVIDE, 111}, {SDL_SCANCODE_F1, SDLK_F1, 112},
        {SDL_SCANCODE_F3, SDLK_F3, 114}, {SDL_SCANCODE_F4, SDLK_F4, 115},
        {SDL_SCANCODE_F11, SDLK_F11, 122}, {SDL_SCANCODE_F12, SDLK_F12, 123},
        {SDL_SCANCODE_NUMLOCKCLEAR, SDLK_NUMLOCKCLEAR, 144},
        {SDL_SCANCODE_SCROLLLOCK, SDLK_SCROLLLOCK, 145}, {SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 160},
        {SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, 161}, {SDL_SCANCODE_LCTRL, SDLK_LCTRL, 162},
        {SDL_SCANCODE_RCTRL, SDLK_RCTRL, 163}, {SDL_SCANCODE_LALT, SDLK_LALT, 164},
        {SDL_SCANCODE_RALT, SDLK_RALT, 165}, {SDL_SCANCODE_MUTE, SDLK_MUTE, 173},
        {SDL_SCANCODE_VOLUMEDOWN, SDLK_VOLUMEDOWN, 174}, {SDL_SCANCODE_VOLUMEUP, SDLK_VOLUMEUP, 175},
        {SDL_SCANCODE_SEMICOLON, SDLK_SEMICOLON, 186}, {SDL_SCANCODE_EQUALS, SDLK_EQUALS, 187},
        {SDL_SCANCODE_COMMA, SDLK_COMMA, 188}, {SDL_SCANCODE_MINUS, SDLK_MINUS, 189},
        {SDL_SCANCODE_PERIOD, SDLK_PERIOD, 190}, {SDL_SCANCODE_SLASH, SDLK_SLASH, 191},
        {SDL_SCANCODE_APOSTROPHE, SDLK_QUOTE, 192}, {SDL_SCANCODE_LEFTBRACKET, SDLK_LEFTBRACKET, 219},
        {SDL_SCANCODE_BACKSLASH, SDLK_BACKSLASH, 220}, {SDL_SCANCODE_RIGHTBRACKET, SDLK_RIGHTBRACKET, 221},
        {SDL_SCANCODE_NONUSHASH, SDLK_HASH, 222}, {SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, 223},
        {SDL_SCANCODE_NONUSBACKSLASH, SDLK_LESS, 226},
    };
    for (const Case& c : cases) EXPECT_EQ(VirtualKeyFromSdl(c.sc, c.sym), c.vk) << SDL_GetScancodeName(c.sc);
    // Letters follow the label: on a French layout the key in the Q place
    // reports "a" and reads as A; a non-Latin label falls back to position.
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_Q, SDLK_a), 65);
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_Q, 0x0439), 81);
    // A letter place that types punctuation is that punctuation key, not a
    // second copy of the letter typed elsewhere: Dvorak's quote key sits
    // where Q is, its Z is where "/" is, and its ";" where Z is.
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_Q, SDLK_QUOTE), 192);
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_SLASH, SDLK_z), 90);
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_Z, SDLK_SEMICOLON), 186);
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_M, SDLK_COMMA), 188);  // AZERTY
    // AZERTY's digit row types symbols; its keys stay the digits.
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_6, SDLK_MINUS), 54);
    EXPECT_EQ(VirtualKeyFromSdl(SDL_SCANCODE_APPLICATION + 200, 0), 0);
}

TEST(Joysticks, VirtualDeviceReportsAxesHatAndButtons) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 12, 1);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* dev = SDL_JoystickOpen(index);
    ASSERT_TRUE(dev);
    int n = JoystickCount();
    ASSERT_GE(n, 1);
    int port = n - 1;
    EXPECT_FALSE(JoystickName(port).empty());
    EXPECT_EQ(JoystickButtonMask(port), (1 << 12) - 1);
    EXPECT_EQ(JoystickHat(port), -1.0f);
    EXPECT_EQ(JoystickX(port), 0.0f);

    SDL_JoystickSetVirtualAxis(dev, 0, -32768);
    SDL_JoystickSetVirtualAxis(dev, 1, 32767);
    SDL_JoystickSetVirtualAxis(dev, 3, 16384);
    SDL_JoystickSetVirtualAxis(dev, 5, -16384);
    SDL_JoystickSetVirtualButton(dev, 3, SDL_PRESSED);
    SDL_JoystickSetVirtualHat(dev, 0, SDL_HAT_LEFT);
    EXPECT_FLOAT_EQ(JoystickX(port), -1.0f);
    EXPECT_FLOAT_EQ(JoystickY(port), 1.0f);
    EXPECT_NEAR(JoystickR(port), 0.5f, 1e-3);
    EXPECT_NEAR(JoystickV(port), -0.5f, 1e-3);
    EXPECT_FLOAT_EQ(JoystickZ(port), 0.0f);
    EXPECT_EQ(JoystickButtonDown(3, port), 1);
    EXPECT_EQ(JoystickButtonDown(2, port), 0);
    EXPECT_EQ(JoystickButtonDown(40, port), 0);
    EXPECT_FLOAT_EQ(JoystickHat(port), 0.75f);
    SDL_JoystickSetVirtualHat(dev, 0, SDL_HAT_RIGHT);
    EXPECT_FLOAT_EQ(JoystickHat(port), 0.25f);
    SDL_JoystickSetVirtualHat(dev, 0, SDL_HAT_CENTERED);
    EXPECT_FLOAT_EQ(JoystickHat(port), -1.0f);

    // Ports that do not exist answer quietly.
    EXPECT_EQ(JoystickName(n + 3), "");
    EXPECT_EQ(JoystickButtonMask(-1), 0);
    EXPECT_EQ(JoystickX(n + 3), 0.0f);
    EXPECT_EQ(JoystickHat(n + 3), -1.0f);

    // Opening and closing the display leaves the joystick subsystem running.
    ForceNullGraphics(false);
    SelectGraphicsBackend(OpenGLBackend(), 2);
    if (std::getenv("DISPLAY") && OpenDisplay(320, 240, 0, 0, 0)) CloseDisplay();
    EXPECT_NE(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);
    SDL_JoystickSetVirtualAxis(dev, 0, 32767);
    EXPECT_FLOAT_EQ(JoystickX(port), 1.0f);

    // A device unplugged after enumeration keeps its last state.
    SDL_JoystickClose(dev);
    SDL_JoystickDetachVirtual(index);
    EXPECT_FLOAT_EQ(JoystickX(port), 1.0f);
}

}  // namespace
