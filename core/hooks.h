// Services that long operations call; the workbench installs panel/cursor
// versions, the console defaults keep the core usable without a display.
#pragma once

// Both report only on the thread that installed the hooks (or started the
// program): worker threads run the same readers without touching the display.
// Nestable busy state: forms are disabled while the count is above 0.
void busy(int on);
int busy_depth();
// Progress report; cur == -1 closes the panel.
void do_progress(int cur, int max, const char* text);

// Progress in bytes, scaled so that files past 2 GB still fit the int arguments.
void do_progress_bytes(long long done, long long total, const char* text);

struct UiHooks {
    void (*busy_on)() = nullptr;   // outermost busy(1)
    void (*busy_off)() = nullptr;  // busy(0) back to 0
    void (*progress)(int cur, int max, const char* text) = nullptr;
};
// Installs GUI hooks; returns the previous ones.
UiHooks set_ui_hooks(const UiHooks& h);

// Console progress: quiet by default (tarvik-proc --verbose turns it on).
void set_console_progress(bool on);

// Keeps freed image buffers in the process for the next ones (an image
// program frees and allocates megabyte buffers all the time: handing them
// back to the system and taking them again costs a page fault and a zeroed
// page per 4 KiB). The programs call it first thing.
void keep_freed_memory();
