#include "services/nameentry.h"

#include <string>

#include "media/system.h"
#include "screens/helpers.h"
#include "services/drawlog.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/startup.h"

namespace {
constexpr int KeyBackspace = 8;
constexpr int KeyEnter = 13;
constexpr int KeyEscape = 27;

// Waits, without drawing, until Escape, the left button and Enter are all
// up. Every query pumps input; the sleep keeps the wait off the processor and
// lets scripted input and the virtual clock move on.
void WaitForRelease() {
    while (KeyIsDown(KeyEscape) || MouseIsDown(1) || KeyIsDown(KeyEnter)) SleepMs(1);
}

void DrawBackground() {
    ClearScreen();
    DrawStripes(true, LoggedRect);
    ResetDrawState();
}
}  // namespace

int NameEntryActive;

bool NameCharAccepted(int code) { return code >= 32 && code <= 255 && code != '|'; }

void EnterName() {
    // Escape here must confirm the name, not open the pause screen.
    int savedPlayState = PlayState;
    if (PlayState == 1) PlayState = 0;

    FlushInput();
    WaitForRelease();
    NameEntryActive = 1;
    // A longer name (a score file from before the limit, or edited by hand)
    // is offered cut to it, so that confirming it files a name the server
    // takes.
    if (PlayerName.size() > NameMostChars) PlayerName.resize(NameMostChars);

    bool confirmed = false;
    while (!confirmed) {
        DrawBackground();

        int c = NextTypedChar();
        if (c && NameCharAccepted(c) && PlayerName.size() < NameMostChars)
            PlayerName.push_back((char)(unsigned char)c);

        if (KeyHitCount(KeyBackspace) != 0 && !PlayerName.empty()) PlayerName.pop_back();

        SetTint(0, 255, 0);
        SetImageFont(Fonts[6]);
        LoggedText(ViewWidth / 2, ViewHeight / 2 - 100, "Enter Your Name", 1, 1);

        SetImageFont(Fonts[5]);
        int phase = Millisecs() % 600;
        if (phase < 0) phase += 600;
        std::string cursor = phase < 300 ? "_" : " ";
        LoggedText(ViewWidth / 2 - TextWidth(PlayerName) / 2, ViewHeight / 2, PlayerName + cursor, 0, 1);

        if (KeyHitCount(KeyEnter) != 0 || MouseIsDown(1) || KeyIsDown(KeyEscape)) confirmed = true;

        FinishFrame(1);
    }

    NameEntryActive = 0;
    SeedRandom(Millisecs());
    WaitForRelease();
    PlayState = savedPlayState;
}
