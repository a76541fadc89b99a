// Background work: a few worker threads that take jobs lane by lane, and a
// mailbox through which workers hand their results to the thread that owns
// the data (one byte on a pipe wakes its event loop, which then runs what was
// posted). Jobs get everything they need as values and never touch the
// caller's state; what they find comes back through the mailbox.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkQueue {
public:
    static constexpr int kLanes = 4;

    explicit WorkQueue(int threads);
    ~WorkQueue();  // drops the pending jobs, waits for the running ones
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Appends a job to a lane (0 .. kLanes-1); lower lanes are taken first,
    // each lane in order.
    void push(int lane, std::function<void()> job);
    // Drops the jobs of a lane not yet started; returns how many.
    int cancel(int lane);
    int pending(int lane) const;
    int running() const;
    int threads() const { return (int)workers.size(); }
    // Waits until nothing is pending or running.
    void waitIdle();

    // The cores less one (the event loop keeps one), at least one.
    static int defaultThreads();

private:
    void work();

    mutable std::mutex m;
    std::condition_variable wake, idle;
    std::deque<std::function<void()>> lanes[kLanes];
    int busy = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};

class Mailbox {
public:
    Mailbox();
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Readable when something was posted (the read end of a non-blocking pipe).
    int fd() const { return pipeFd[0]; }
    // From any thread: queue f to run on the owner's thread.
    void post(std::function<void()> f);
    // On the owner's thread: runs everything posted so far, in order, and
    // empties the pipe; returns how many ran.
    int drain();

private:
    std::mutex m;
    std::deque<std::function<void()>> box;
    int pipeFd[2] = {-1, -1};
};
