// Writing a large output costs the kernel a copy into fresh page-cache
// pages, a good part of expanding (docs/performance.md). A background
// writer takes one stretch of bytes at a time and writes it on the other
// core while the caller goes on producing the next one.
//
// The caller must leave a stretch it has handed over untouched until the
// writer is idle again. The first failed write is kept, or what a write
// threw (a sink in memory that could not grow); later stretches are
// dropped, and the caller learns of it from wait_for_writer, on its own
// thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>

#include "byte_streams.h"
#include "worker_thread.h"

namespace tarnwel {

// The sink is the writer thread's while busy, and the caller's otherwise;
// the other fields are under the lock.
struct BackgroundWriter {
    ByteSink* sink = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t position = 0;         // where the stretch being written goes, while busy
    const std::uint8_t* data = nullptr; // the stretch being written, while busy
    std::size_t count = 0;
    bool busy = false;
    int error_number = 0;
    std::exception_ptr thrown; // by the first write that failed so, if one did
    WorkerThread worker;

    BackgroundWriter() = default;
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;
    ~BackgroundWriter();
};

// Starts the writer's thread. False when no thread is to be had; the caller
// then writes for itself.
bool start_writer(BackgroundWriter& writer, ByteSink& sink);

// True when the writer has finished the last stretch; never blocks.
bool writer_idle(BackgroundWriter& writer);

// Hands over a stretch, to be written at position; the writer must be idle.
void hand_to_writer(BackgroundWriter& writer, std::uint64_t position, const std::uint8_t* data,
                    std::size_t count);

// Waits until the writer is idle, and gives the error number of its first
// failed write, or 0; throws what that write threw, if it threw.
int wait_for_writer(BackgroundWriter& writer);

// Waits for the last stretch and ends the thread; the destructor does it too.
void stop_writer(BackgroundWriter& writer);

} // namespace tarnwel
