// The colour-symbol assist (see assist.h).
#include "game/assist.h"

#include <string>

#include "game/assets.h"
#include "game/state.h"
#include "media/graphics.h"
#include "media/journal.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/framehub.h"
#include "shell/setup.h"
#include "shell/startup.h"

bool ColourSymbols = false;

namespace {
const char* const AssistFile = "Assist.ini";
constexpr int KeyF8 = 119;

// The file has its own name rather than a line in "Setup.ini": a player who
// never turns the assist on keeps exactly the setup file they had.
bool WriteAssistHere() {
    std::string line = std::string("ColourSymbols=") + (ColourSymbols ? "1" : "0");
    return WriteFileAtomically(AssistFile, &line, 1);
}

void SaveAssist() {
    // A replay shows a recorded run; it does not change the player's files.
    if (Replaying()) return;
    InDataFolder("\tCould not reach the folder of Assist.ini; the colour symbols choice is not saved.",
                 WriteAssistHere);
}
}  // namespace

void LoadAssist() {
    TStream* in = FileType(AssistFile) == 1 ? ReadFile(AssistFile) : nullptr;
    if (!in) return;
    while (!EndOfStream(in)) {
        std::string line = ReadLine(in);
        if (line.rfind("ColourSymbols=", 0) == 0) ColourSymbols = TextToInt(line.substr(14)) == 1;
    }
    CloseStream(in);
}

void AssistKeyTick() {
    if (KeyHitsNow(KeyF8) == 0) return;
    ColourSymbols = !ColourSymbols;
    AddMessage(ColourSymbols ? "Colour symbols on (F8)" : "Colour symbols off (F8)");
    SaveAssist();
}

void DrawColourSymbol(int k, float cx, float cy, float scale) {
    if (!ColourSymbols || k < 1 || k > 7 || !SymbolImage) return;
    float sx, sy;
    GetScale(sx, sy);
    float rot = GetRotation(), alpha = GetAlpha();
    int r, g, b;
    GetColor(r, g, b);
    int blend = GetBlend();
    // Upright and untinted whatever the pod: a turning shape is harder to
    // read, and the shape is black in a white rim on every colour.
    SetRotation(0);
    SetScale(scale, scale);
    SetColor(255, 255, 255);
    SetAlpha(1);
    SetBlend(BLEND_ALPHA);
    DrawSprite(SymbolImage, Trunc(cx - 32 * scale), Trunc(cy - 32 * scale), k - 1, 1);
    SetScale(sx, sy);
    SetRotation(rot);
    SetColor(r, g, b);
    SetAlpha(alpha);
    SetBlend(blend);
}
