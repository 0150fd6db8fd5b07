#include "codec/background_writer.h"

#include <exception>

namespace tarnwel {

namespace {

void run_writer(BackgroundWriter* writer) {
    std::unique_lock<std::mutex> held(writer->lock);
    for (;;) {
        writer->changed.wait(held, [&] { return writer->busy || writer->stopping; });
        if (!writer->busy) return;
        std::uint64_t position = writer->position;
        const std::uint8_t* data = writer->data;
        std::size_t count = writer->count;
        bool failed_before = writer->error_number != 0;
        held.unlock();
        int error_number = 0;
        if (!failed_before && !writer->sink->write_at(position, data, count))
            error_number = writer->sink->error();
        held.lock();
        if (writer->error_number == 0) writer->error_number = error_number;
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
    try {
        writer.thread = std::thread(run_writer, &writer);
    } catch (const std::exception&) {
        return false;
    }
    return true;
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
    return writer.error_number;
}

void stop_writer(BackgroundWriter& writer) {
    if (!writer.thread.joinable()) return;
    {
        std::unique_lock<std::mutex> held(writer.lock);
        writer.changed.wait(held, [&] { return !writer.busy; });
        writer.stopping = true;
        writer.changed.notify_all();
    }
    writer.thread.join();
}

} // namespace tarnwel
