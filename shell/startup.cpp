#include "shell/startup.h"

const std::string GameTitle = "Wormlob 2";
const std::string GameTagline = "Bat, Lob and Net the Centipede Pods";

std::string AppTitle() {
    return "#" + std::to_string(WeekNumber) + " : " + GameTitle + " " + GameTagline;
}
