#include "core/hooks.h"

#include <malloc.h>

#include <cstdio>
#include <thread>

namespace {
UiHooks g_hooks;
int g_busy = 0;
bool g_console = false;
// The thread that owns the busy state and the progress display: the one that
// installed the hooks (the GUI thread), else the one that started the program.
// Worker threads call the same readers, silently.
std::thread::id g_owner = std::this_thread::get_id();

bool onOwner() {
    return std::this_thread::get_id() == g_owner;
}
}  // namespace

UiHooks set_ui_hooks(const UiHooks& h) {
    UiHooks old = g_hooks;
    g_hooks = h;
    g_owner = std::this_thread::get_id();
    return old;
}

void set_console_progress(bool on) {
    g_console = on;
}

int busy_depth() {
    return g_busy;
}

void busy(int on) {
    if (!onOwner()) return;
    if (on) {
        if (g_busy++ == 0 && g_hooks.busy_on) g_hooks.busy_on();
    } else if (g_busy > 0) {
        if (--g_busy == 0 && g_hooks.busy_off) g_hooks.busy_off();
    }
}

void do_progress(int cur, int max, const char* text) {
    if (!onOwner()) return;
    if (g_hooks.progress) {
        g_hooks.progress(cur, max, text);
        return;
    }
    if (!g_console) return;
    if (cur == -1)
        std::fprintf(stderr, "\n");
    else
        std::fprintf(stderr, "\r%s %d/%d", text ? text : "", cur, max);
}

void do_progress_bytes(long long done, long long total, const char* text) {
    int shift = 0;
    while ((total >> shift) > 0x7fffffffLL) shift++;
    do_progress((int)(done >> shift), (int)(total >> shift), text);
}

void keep_freed_memory() {
    // Buffers up to 32 MiB come from the heap, and up to 256 MiB of free heap
    // stays mapped; larger images still get (and return) their own mappings.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
