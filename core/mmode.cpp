#include "core/mmode.h"

MouseMode MMode;
