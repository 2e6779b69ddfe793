// The game itself arrives later; starting one returns to the title at once.
#include "shell/startup.h"

void RunGame() {}
