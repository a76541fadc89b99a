// Start-up of the workbench to its first mapped window (and to all three of
// its windows), next to a bare Xlib client mapping one window, in the same
// run. Needs an X display (scripts/xvfb-run 24 build/bench_startup).
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {
std::string g_self;

// Spawns a client and times it until `maps` top-level windows were mapped.
// Returns seconds, or -1 when the display is missing or the client died.
double timeToMaps(char* const* argv, int maps) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return -1;
    Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, True);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        XCloseDisplay(d);
        return -1;
    }
    int seen = 0;
    double t = -1;
    while (seen < maps) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == MapNotify && ev.xmap.event == root && ++seen == maps)
            t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(d);
    return t;
}

void run(benchmark::State& state, char* const* argv, int maps) {
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no X display");
        return;
    }
    for (auto _ : state) {
        double t = timeToMaps(argv, maps);
        if (t < 0) {
            state.SkipWithError("client failed");
            return;
        }
        state.SetIterationTime(t);
    }
}

void BM_BareXlibWindow(benchmark::State& state) {
    char a1[] = "--bare-window";
    char* argv[] = {&g_self[0], a1, nullptr};
    run(state, argv, 1);
}

void BM_WorkbenchFirstWindow(benchmark::State& state) {
    char* argv[] = {(char*)TARVIK_BIN, nullptr};
    run(state, argv, 1);
}

void BM_WorkbenchAllWindows(benchmark::State& state) {
    // Control, Mouse and the first view.
    char* argv[] = {(char*)TARVIK_BIN, nullptr};
    run(state, argv, 3);
}

}  // namespace

BENCHMARK(BM_BareXlibWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WorkbenchFirstWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WorkbenchAllWindows)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    g_self = n > 0 ? std::string(buf, n) : argv[0];
    if (argc > 1 && std::strcmp(argv[1], "--bare-window") == 0) {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return 1;
        Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 100, 100, 0, 0, 0);
        XMapWindow(d, w);
        XFlush(d);
        pause();
        return 0;
    }
    // The workbench writes its preferences nowhere that matters.
    char home[] = "/tmp/tarvik_bench_home_XXXXXX";
    if (mkdtemp(home)) setenv("HOME", home, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string rm = std::string("rm -rf '") + home + "'";
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
