// The screenshot, pause screen and settings panel are called from the frame
// hub. Until those screens are built their bodies do nothing; the settings
// panel stays retracted, so the title's start button works.
#include "shell/framehub.h"

float PanelOffset = -300;

void TakeScreenshot() {}
int PauseScreen() { return 1; }
void SettingsPanel() {}
