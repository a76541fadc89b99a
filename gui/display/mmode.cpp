#include "gui/display/mmode.h"

MouseMode MMode;
