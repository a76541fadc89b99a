// Background work: a few worker threads that take jobs lane by lane, and a
// mailbox through which workers hand their results to the thread that owns
// the data (one byte on a pipe wakes its event loop, which then runs what was
// posted). Jobs get everything they need as values and never touch the
// caller's state; what they find comes back through the mailbox.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
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

// Items waiting for work, taken in key order from a movable origin and
// wrapping around (estimates follow the user through a list), with the count
// of the runners taking from it. Thread-safe.
template <class T>
class RingQueue {
public:
    void put(int key, T item) {
        std::lock_guard<std::mutex> g(m);
        items[key] = std::move(item);
    }
    bool remove(int key) {
        std::lock_guard<std::mutex> g(m);
        return items.erase(key) > 0;
    }
    void clear() {
        std::lock_guard<std::mutex> g(m);
        items.clear();
    }
    void setOrigin(int key) {
        std::lock_guard<std::mutex> g(m);
        origin = key;
    }
    int size() const {
        std::lock_guard<std::mutex> g(m);
        return (int)items.size();
    }
    // Takes the first item at or after the origin, else the first of all. On
    // false (nothing left) the caller's runner counts as gone.
    bool take(int* key, T* item) {
        std::lock_guard<std::mutex> g(m);
        if (items.empty()) {
            runners--;
            return false;
        }
        auto it = items.lower_bound(origin);
        if (it == items.end()) it = items.begin();
        *key = it->first;
        *item = std::move(it->second);
        items.erase(it);
        return true;
    }
    // How many more runners to start so that up to max take from it; they
    // count as running from now.
    int runnersWanted(int max) {
        std::lock_guard<std::mutex> g(m);
        const int n = std::max(0, std::min(max, (int)items.size()) - runners);
        runners += n;
        return n;
    }

private:
    mutable std::mutex m;
    std::map<int, T> items;
    int origin = 0;
    int runners = 0;
};
