#include "background_writer.h"

#include <exception>

namespace tarnwel {

namespace {

void run_writer(BackgroundWriter* writer) {
    std::unique_lock<std::mutex> held(writer->lock);
    for (;;) {
        writer->changed.wait(held, [&] { return writer->busy || stop_asked(writer->worker); });
        if (!writer->busy) return;
        std::uint64_t position = writer->position;
        const std::uint8_t* data = writer->data;
        std::size_t count = writer->count;
        bool failed_before = writer->error_number != 0 || writer->thrown != nullptr;
        held.unlock();
        int error_number = 0;
        std::exception_ptr thrown;
        // A sink that grows in memory throws when memory runs out. Thrown
        // here, it would end the process; it is kept for the owner instead.
        try {
            if (!failed_before && !writer->sink->write_at(position, data, count))
                error_number = writer->sink->error();
        } catch (...) {
            thrown = std::current_exception();
        }
        held.lock();
        if (!failed_before) {
            writer->error_number = error_number;
            writer->thrown = thrown;
        }
        writer->busy = false;
        writer->changed.notify_all();
    }
}

} // namespace

BackgroundWriter::~BackgroundWriter() {
    stop_writer(*this);
}

bool start_writer(BackgroundWriter& writer, ByteSink& sink) {
    writer.sink = &sink;
    return start_worker(writer.worker, [&writer] { run_writer(&writer); });
}

bool writer_idle(BackgroundWriter& writer) {
    std::lock_guard<std::mutex> held(writer.lock);
    return !writer.busy;
}

void hand_to_writer(BackgroundWriter& writer, std::uint64_t position, const std::uint8_t* data,
                    std::size_t count) {
    std::lock_guard<std::mutex> held(writer.lock);
    writer.position = position;
    writer.data = data;
    writer.count = count;
    writer.busy = true;
    writer.changed.notify_all();
}

int wait_for_writer(BackgroundWriter& writer) {
    std::unique_lock<std::mutex> held(writer.lock);
    writer.changed.wait(held, [&] { return !writer.busy; });
    if (writer.thrown != nullptr) std::rethrow_exception(writer.thrown);
    return writer.error_number;
}

void stop_writer(BackgroundWriter& writer) {
    if (!worker_running(writer.worker)) return;
    {
        std::unique_lock<std::mutex> held(writer.lock);
        writer.changed.wait(held, [&] { return !writer.busy; });
    }
    ask_to_stop(writer.worker, writer.lock, writer.changed);
    // What a write threw is kept apart, for wait_for_writer; the loop
    // itself throws nothing.
    join_worker(writer.worker);
}

} // namespace tarnwel
