// The settings panel that slides down over any screen (Tab or F12), and its
// widgets.
#pragma once
#include <string>

// Vertical slide offset: -300 retracted, rests at 20 when fully open.
extern int PanelOffset;

// One option line; returns 1 while the pointer is over it. y is without the
// panel offset. Empty labels are not offered; a first label "AUDIO" lists
// the audio back ends instead.
int OptionCycler(int setting, int x, int y, int iconBase, const std::string& label0,
                 const std::string& label1 = "", const std::string& label2 = "",
                 const std::string& label3 = "", const std::string& label4 = "",
                 const std::string& label5 = "");
// One volume slider; y includes the panel offset. Returns the value, changed
// while the pointer drags over it.
int VolumeSlider(int value, int x, int y, const std::string& label);
// Steps Settings[4] through the display-mode list (step +1 or -1, wrapping)
// and copies the mode's size into Settings[5] and [6].
void StepResolution(int step);
