// One worker thread as its owner sees it: started on a body, asked to stop,
// joined, and what the body threw handed back. The frozen parse's second
// thread, the background writer and the page prefaulter all run on one.
// What the body works on, and how it waits and so how it is woken, are the
// owner's: a body that waits on a condition variable looks at stop_asked
// in its predicate, and its owner wakes it by taking that lock and
// notifying.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace tarnwel {

// thread is the owner's; thrown is the body's until it ends, and the
// owner's once the thread has been joined.
struct WorkerThread {
    std::thread thread;
    std::atomic<bool> stop_asked{false};
    std::exception_ptr thrown;

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // Its owner has asked the body to stop, or the body ends by itself.
    ~WorkerThread() {
        if (thread.joinable()) thread.join();
    }
};

// Runs body() on a new thread, keeping what it throws. False, with nothing
// started, when the system gives no thread (or no memory for one). The
// worker must not be running.
template <class Body> bool start_worker(WorkerThread& worker, Body body) {
    worker.stop_asked.store(false, std::memory_order_relaxed);
    worker.thrown = nullptr;
    try {
        worker.thread = std::thread([&worker, body]() mutable {
            try {
                body();
            } catch (...) {
                worker.thrown = std::current_exception();
            }
        });
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

inline bool worker_running(const WorkerThread& worker) {
    return worker.thread.joinable();
}

// For the body: its owner wants it to return.
inline bool stop_asked(const WorkerThread& worker) {
    return worker.stop_asked.load(std::memory_order_acquire);
}

// Asks the body to return, then calls wake() to rouse it from whatever it
// waits on.
template <class Wake> void ask_to_stop(WorkerThread& worker, Wake wake) {
    worker.stop_asked.store(true, std::memory_order_release);
    wake();
}

// For a body that waits on changed under lock: taking the lock before
// notifying, the body has either not yet looked at stop_asked or is
// waiting, so the request is never missed.
inline void ask_to_stop(WorkerThread& worker, std::mutex& lock, std::condition_variable& changed) {
    ask_to_stop(worker, [&] {
        std::lock_guard<std::mutex> hold(lock);
        changed.notify_all();
    });
}

// Waits until the thread has ended, and hands back what its body threw
// (null when it returned, or when no thread ran).
inline std::exception_ptr join_worker(WorkerThread& worker) {
    if (worker.thread.joinable()) worker.thread.join();
    return std::exchange(worker.thrown, nullptr);
}

} // namespace tarnwel
