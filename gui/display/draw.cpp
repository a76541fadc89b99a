// Selection outlines and filament boxes.
#include "gui/display/draw.h"

#include <X11/Xlib.h>

#include <cmath>

#include "gui/display/mmode.h"

void drawShape(Display* display, Drawable d, GC gc, int shape, int x, int y, int w, int h) {
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    // X strokes a w x h outline over w + 1 x h + 1 pixels: the outline, the
    // ellipse and the diagonals keep to the w x h pixels the fill covers.
    const int ow = w > 0 ? w - 1 : 0, oh = h > 0 ? h - 1 : 0;
    switch (shape) {
        case 0:
            XDrawLine(display, d, gc, x, y, x + ow, y + oh);
            XDrawLine(display, d, gc, x, y + oh, x + ow, y);
            break;
        case 1:
            XDrawRectangle(display, d, gc, x, y, ow, oh);
            break;
        case 2:
            XFillArc(display, d, gc, x + w / 2 - 5, y + h / 2 - 5, 11, 11, 0, 360 * 64);
            break;
        case 3:
            XDrawArc(display, d, gc, x, y, ow, oh, 0, 360 * 64);
            break;
        case 4:
            XFillRectangle(display, d, gc, x, y, w, h);
            break;
        default:
            break;
    }
}

void doBox(Display* display, Drawable d, GC gc, int x, int y, int w, int h) {
    drawShape(display, d, gc, MMode.boxType, x, y, w, h);
}

void doLine(Display* display, Drawable d, GC gc, int x, int y, int dx, int dy, float zoom) {
    double a = std::atan2((double)dy, (double)dx);
    double h = zoom * MMode.boxX / 2.0;
    double L = std::sqrt((double)dx * dx + (double)dy * dy);
    double s = std::sin(a), c = std::cos(a);
    auto rnd = [](double v) { return (int)std::floor(v + 0.5); };
    double ax = x - h * s, ay = y + h * c;
    double bx = x + h * s, by = y - h * c;
    int Ax = rnd(ax), Ay = rnd(ay), Bx = rnd(bx), By = rnd(by);
    int Cx = rnd(ax + L * c), Cy = rnd(ay + L * s);
    int Dx = rnd(bx + L * c), Dy = rnd(by + L * s);
    XDrawLine(display, d, gc, x, y, x + dx, y + dy);
    XDrawLine(display, d, gc, Ax, Ay, Bx, By);
    XDrawLine(display, d, gc, Cx, Cy, Dx, Dy);
    XDrawLine(display, d, gc, Ax, Ay, Cx, Cy);
    XDrawLine(display, d, gc, Dx, Dy, Bx, By);
}
