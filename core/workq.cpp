#include "core/workq.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>

WorkQueue::WorkQueue(int threads) {
    for (int i = 0; i < std::max(1, threads); i++) workers.emplace_back([this] { work(); });
}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard<std::mutex> g(m);
        stopping = true;
        for (auto& l : lanes) l.clear();
    }
    wake.notify_all();
    for (std::thread& t : workers) t.join();
}

void WorkQueue::push(int lane, std::function<void()> job) {
    lane = std::min(std::max(lane, 0), kLanes - 1);
    {
        std::lock_guard<std::mutex> g(m);
        lanes[lane].push_back(std::move(job));
    }
    wake.notify_one();
}

int WorkQueue::cancel(int lane) {
    if (lane < 0 || lane >= kLanes) return 0;
    std::deque<std::function<void()>> dropped;  // destroyed outside the lock
    std::lock_guard<std::mutex> g(m);
    dropped.swap(lanes[lane]);
    if (busy == 0 && std::all_of(std::begin(lanes), std::end(lanes), [](auto& l) { return l.empty(); }))
        idle.notify_all();
    return (int)dropped.size();
}

int WorkQueue::pending(int lane) const {
    std::lock_guard<std::mutex> g(m);
    return lane >= 0 && lane < kLanes ? (int)lanes[lane].size() : 0;
}

int WorkQueue::running() const {
    std::lock_guard<std::mutex> g(m);
    return busy;
}

void WorkQueue::waitIdle() {
    std::unique_lock<std::mutex> g(m);
    idle.wait(g, [this] {
        return busy == 0 && std::all_of(std::begin(lanes), std::end(lanes), [](auto& l) { return l.empty(); });
    });
}

int WorkQueue::defaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n > 1 ? (int)n - 1 : 1;
}

void WorkQueue::work() {
    std::unique_lock<std::mutex> g(m);
    for (;;) {
        auto full = std::find_if(std::begin(lanes), std::end(lanes), [](auto& l) { return !l.empty(); });
        if (stopping) return;
        if (full == std::end(lanes)) {
            wake.wait(g);
            continue;
        }
        std::function<void()> job = std::move(full->front());
        full->pop_front();
        busy++;
        g.unlock();
        try {
            job();
        } catch (const std::exception& e) {
            std::printf("A background job failed: %s\n", e.what());
        }
        job = nullptr;  // its captures go before the queue counts it done
        g.lock();
        busy--;
        if (busy == 0 && std::all_of(std::begin(lanes), std::end(lanes), [](auto& l) { return l.empty(); }))
            idle.notify_all();
    }
}

Mailbox::Mailbox() {
    if (pipe(pipeFd) != 0) {
        pipeFd[0] = pipeFd[1] = -1;
        std::printf("Cannot make a pipe for background results\n");
        return;
    }
    for (int fd : pipeFd) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

Mailbox::~Mailbox() {
    for (int fd : pipeFd)
        if (fd >= 0) close(fd);
}

void Mailbox::post(std::function<void()> f) {
    {
        std::lock_guard<std::mutex> g(m);
        box.push_back(std::move(f));
    }
    // A full pipe already wakes the reader: a failed write loses nothing.
    const char b = 1;
    if (pipeFd[1] >= 0) {
        ssize_t r;
        do r = write(pipeFd[1], &b, 1);
        while (r < 0 && errno == EINTR);
    }
}

int Mailbox::drain() {
    char buf[256];
    if (pipeFd[0] >= 0)
        while (read(pipeFd[0], buf, sizeof buf) > 0) {
        }
    std::deque<std::function<void()>> now;
    {
        std::lock_guard<std::mutex> g(m);
        now.swap(box);
    }
    for (auto& f : now) f();
    return (int)now.size();
}
