// The worker queue and the mailbox that brings results back, and the busy
// and progress hooks, which worker threads never reach.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "core/hooks.h"
#include "core/workq.h"

namespace {
bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}
}  // namespace

TEST(WorkQueue, LowerLanesFirstEachInOrderAndCancelDropsOnlyPending) {
    WorkQueue q(1);
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::mutex m;
    std::vector<int> ran;
    auto job = [&](int id) {
        return [&, id] {
            std::lock_guard<std::mutex> g(m);
            ran.push_back(id);
        };
    };
    q.push(1, [open] { open.wait(); });  // holds the only worker
    while (q.running() == 0) std::this_thread::yield();
    for (int i : {10, 11, 12}) q.push(2, job(i));
    for (int i : {20, 21}) q.push(1, job(i));
    q.push(0, job(0));
    q.push(3, job(30));
    q.push(9, job(31));  // past the last lane: the last lane
    EXPECT_EQ(q.pending(2), 3);
    EXPECT_EQ(q.cancel(3), 2);
    EXPECT_EQ(q.cancel(3), 0);
    gate.set_value();
    q.waitIdle();
    EXPECT_EQ(ran, (std::vector<int>{0, 20, 21, 10, 11, 12}));
    EXPECT_EQ(q.running(), 0);
}

TEST(WorkQueue, ManyThreadsRunEveryJobOnceAndResultsComeBackOnTheOwnersThread) {
    Mailbox box;
    std::atomic<int> done{0};
    std::vector<int> got;  // touched only by drain, on this thread
    const std::thread::id me = std::this_thread::get_id();
    bool onOwner = true;
    {
        WorkQueue q(4);
        EXPECT_EQ(q.threads(), 4);
        for (int i = 0; i < 400; i++)
            q.push(i % 3, [&, i] {
                done++;
                box.post([&, i] {
                    onOwner = onOwner && std::this_thread::get_id() == me;
                    got.push_back(i);
                });
            });
        q.waitIdle();
    }
    EXPECT_EQ(done.load(), 400);
    ASSERT_TRUE(readable(box.fd(), 0));
    EXPECT_EQ(box.drain(), 400);
    EXPECT_FALSE(readable(box.fd(), 0));  // drained with the queue
    EXPECT_TRUE(onOwner);
    std::sort(got.begin(), got.end());
    for (int i = 0; i < 400; i++) ASSERT_EQ(got[i], i);
    EXPECT_EQ(box.drain(), 0);
    EXPECT_GE(WorkQueue::defaultThreads(), 1);
    EXPECT_LE(WorkQueue::defaultThreads(), (int)std::max(1u, std::thread::hardware_concurrency()));
}

TEST(WorkQueue, DestroyingDropsPendingJobsAndWaitsForRunningOnes) {
    std::atomic<int> ran{0};
    std::atomic<bool> started{false};
    {
        WorkQueue q(1);
        q.push(0, [&] {
            started = true;
            // Until the destructor has dropped the others (2 s at most): no race with a slow main thread.
            for (int i = 0; i < 2000 && q.pending(0) > 0; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ran++;
        });
        for (int i = 0; i < 10; i++) q.push(0, [&] { ran += 100; });
        while (!started) std::this_thread::yield();
    }
    EXPECT_EQ(ran.load(), 1);
}

TEST(Hooks, WorkerThreadsNeverReachTheHooks) {
    static std::atomic<int> calls{0};
    UiHooks h;
    h.busy_on = [] { calls++; };
    h.busy_off = [] { calls++; };
    h.progress = [](int, int, const char*) { calls++; };
    UiHooks old = set_ui_hooks(h);
    std::thread t([] {
        busy(1);
        do_progress(1, 2, "x");
        busy(0);
    });
    t.join();
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(busy_depth(), 0);
    set_ui_hooks(old);
}

TEST(RingQueue, TakesFromTheOriginOnwardThenWrapsAndCountsRunners) {
    RingQueue<std::string> q;
    for (int k : {7, 2, 9, 4}) q.put(k, "item" + std::to_string(k));
    q.put(4, "four");  // replaced
    EXPECT_EQ(q.runnersWanted(3), 3);
    EXPECT_EQ(q.runnersWanted(3), 0);
    q.setOrigin(5);
    std::vector<std::string> got;
    int key;
    std::string item;
    ASSERT_TRUE(q.take(&key, &item));
    got.push_back(std::to_string(key) + item);
    q.setOrigin(3);  // the user went back
    EXPECT_TRUE(q.remove(9));
    EXPECT_FALSE(q.remove(9));
    while (q.take(&key, &item)) got.push_back(std::to_string(key) + item);
    EXPECT_EQ(got, (std::vector<std::string>{"7item7", "4four", "2item2"}));
    // The runner that found nothing is gone; two more still count.
    EXPECT_EQ(q.size(), 0);
    q.put(1, "x");
    EXPECT_EQ(q.runnersWanted(3), 0);
    EXPECT_TRUE(q.take(&key, &item));
    EXPECT_FALSE(q.take(&key, &item));
    EXPECT_FALSE(q.take(&key, &item));
    q.put(1, "y");
    EXPECT_EQ(q.runnersWanted(3), 1);
}
