// The mouse-mode record shared by the panels, the views and the commands.
#pragma once

enum { MOVE = 0, DRAG = 1, BOX = 2, CTF = 3, ZAP = 4, DB = 5, FILA = 6 };

struct MouseMode {
    int mode = MOVE;
    int boxType = 1;
    int markType = 1;
    int boxX = 512, boxY = 512;
    int buttons = 0;
    int liveType = 0;
    int cmapMode = 0;
    int waveletView = 0;
    void* levelSlider[10] = {};  // the mouse panel's gain sliders (FL_OBJECT*)
    float levelGain[10] = {0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f};
};

extern MouseMode MMode;
