// Running out of memory in the C interface: every call comes back with a
// status, TARNWEL_OUT_OF_MEMORY where memory ran out, whichever of the
// library's threads it ran out on, and never ends the calling process.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tarnwel.h"
#include "test_support.h"

// The sanitizers reserve terabytes of address space for their shadow
// memory: a process under them cannot run under an address-space limit.
#if defined(TARNWEL_SANITIZED) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARNWEL_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TARNWEL_TEST_SANITIZED 1
#endif
#endif

namespace tarnwel::test {
namespace {

// What the calls work on, made before the child starts.
struct Work {
    Bytes input;
    Bytes stream; // the input compressed with widths up to 25
    int width = 0;
    Bytes wide_stream; // compressed where the expander starts its helper threads
    int wide_width = 0;
    Bytes output; // room for any of them
};

// The child's exit status: whether memory ran out, or which call went wrong.
enum Outcome : int {
    every_call_succeeded = 0,
    memory_ran_out = 1,
    compress_one_shot = 10,
    compressor_fed = 11,
    expand_one_shot = 12,
    expander_fed = 13,
    limit_not_set = 14,
    compressor_stepped = 15,
    expander_stepped = 16,
};

// Whether some call ran out of memory, in the child.
bool ran_out = false;

// OK with the right bytes, or out of memory: anything else is a fault.
bool returned(tarnwel_status status, const std::uint8_t* bytes, std::size_t size,
              const Bytes& expected) {
    if (status == TARNWEL_OUT_OF_MEMORY) ran_out = true;
    if (status == TARNWEL_OUT_OF_MEMORY) return true;
    return status == TARNWEL_OK && size == expected.size() &&
           std::equal(expected.begin(), expected.end(), bytes);
}

// An object's calls in turn, up to the first that runs out of memory.
template <class Object, class Feed, class Finish, class Take>
bool fed_returned(tarnwel_status created, Object* object, Feed feed, Finish finish, Take take,
                  const Bytes& input, Bytes& output, const Bytes& expected) {
    tarnwel_status status = created;
    if (status == TARNWEL_OK) status = feed(object, input.data(), input.size());
    if (status == TARNWEL_OK) status = finish(object);
    std::size_t taken = 0;
    if (status == TARNWEL_OK) status = take(object, output.data(), output.size(), &taken);
    return returned(status, output.data(), taken, expected);
}

// An object's step calls over the whole input at once, until done or out
// of memory.
template <class Object, class Step>
bool stepped_returned(tarnwel_status created, Object* object, Step step, const Bytes& input,
                      Bytes& output, const Bytes& expected) {
    tarnwel_status status = created;
    tarnwel_in_buffer in{input.data(), input.size(), 0};
    tarnwel_out_buffer out{output.data(), output.size(), 0};
    int done = 0;
    while (status == TARNWEL_OK && done == 0)
        status = step(object, &in, &out, 1, &done);
    return returned(status, output.data(), out.pos, expected);
}

// Runs every call with `extra` bytes of address space beyond what the
// process holds already.
Outcome run_calls_under_limit(Work& work, std::size_t extra) {
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return limit_not_set;
    bool read = std::fscanf(statm, "%ld", &pages) == 1;
    std::fclose(statm);
    if (!read) return limit_not_set;
    rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + extra;
    const rlimit address_space{limit, limit};
    if (setrlimit(RLIMIT_AS, &address_space) != 0) return limit_not_set;

    std::size_t size = 0;
    int width = 0;
    tarnwel_status status =
        tarnwel_compress(work.input.data(), work.input.size(), work.output.data(),
                         work.output.size(), TARNWEL_MAX_WIDTH, &size, &width);
    if (!returned(status, work.output.data(), size, work.stream) ||
        (status == TARNWEL_OK && width != work.width))
        return compress_one_shot;

    tarnwel_compressor* compressor = nullptr;
    status = tarnwel_compressor_create(TARNWEL_MAX_WIDTH, &compressor);
    bool fine = fed_returned(status, compressor, tarnwel_compressor_feed, tarnwel_compressor_finish,
                             tarnwel_compressor_take, work.input, work.output, work.stream);
    tarnwel_compressor_free(compressor);
    if (!fine) return compressor_fed;

    // Stepped, at the stream's width and searching up to it, which chooses
    // it again (the cap keeps the search's list of codes within the limits).
    for (bool searching : {false, true}) {
        status = searching ? tarnwel_compressor_create(work.width, &compressor)
                           : tarnwel_compressor_create_width(work.width, &compressor);
        fine = stepped_returned(status, compressor, tarnwel_compressor_step, work.input,
                                work.output, work.stream);
        tarnwel_compressor_free(compressor);
        if (!fine) return compressor_stepped;
    }

    status = tarnwel_expand(work.wide_stream.data(), work.wide_stream.size(), work.wide_width,
                            work.output.data(), work.output.size(), &size);
    if (!returned(status, work.output.data(), size, work.input)) return expand_one_shot;

    tarnwel_expander* expander = nullptr;
    status = tarnwel_expander_create(work.wide_width, &expander);
    fine = fed_returned(status, expander, tarnwel_expander_feed, tarnwel_expander_finish,
                        tarnwel_expander_take, work.wide_stream, work.output, work.input);
    tarnwel_expander_free(expander);
    if (!fine) return expander_fed;

    status = tarnwel_expander_create(work.wide_width, &expander);
    fine = stepped_returned(status, expander, tarnwel_expander_step, work.wide_stream, work.output,
                            work.input);
    tarnwel_expander_free(expander);
    if (!fine) return expander_stepped;
    return ran_out ? memory_ran_out : every_call_succeeded;
}

TEST(LibraryOutOfMemory, EveryCallUnderAnyAddressSpaceLimitReturnsAStatus) {
#ifdef TARNWEL_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under an address-space limit";
#endif
    // The expected streams come from the reference coder, which starts no
    // thread: a thread's stack and heap, once made, are kept for the next
    // one, and the children would then find the library's helpers' memory
    // already there.
    Work work;
    work.input = text_like(3000000, 71);
    Searched searched = reference_search_and_compress(work.input, TARNWEL_MAX_WIDTH);
    ASSERT_EQ(searched.choice.result.status, CodecStatus::ok);
    work.stream = searched.stream;
    work.width = searched.choice.width;
    work.wide_width = 18;
    work.wide_stream = reference_compress_bytes(work.input, work.wide_width);
    work.output.resize(tarnwel_compress_bound(work.input.size()));
    // The tables, the helper threads' stacks and heaps, and the output as it
    // grows (on the expander's writer thread, and on the compressor's second
    // thread where there is one) each run out somewhere between no room at
    // all and room for every call: one child a limit, in steps small beside
    // each of them.
    constexpr std::size_t step = std::size_t{512} << 10;
    constexpr std::size_t most = std::size_t{48} << 20;
    std::vector<int> outcomes;
    for (std::size_t extra = 0; extra <= most; extra += step) {
        pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) _exit(run_calls_under_limit(work, extra));
        int raw = 0;
        ASSERT_EQ(waitpid(child, &raw, 0), child);
        std::string under = std::to_string(extra >> 10) + " KiB of address space to spare";
        ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw) << " with " << under;
        outcomes.push_back(WEXITSTATUS(raw));
        EXPECT_LE(outcomes.back(), memory_ran_out) << "with " << under;
    }
    // The sweep went from too little memory for any call to enough for all.
    EXPECT_EQ(outcomes.front(), memory_ran_out);
    EXPECT_EQ(outcomes.back(), every_call_succeeded);
}

TEST(LibraryOutOfMemory, FeedingMoreThanCanBeHeldIsOutOfMemory) {
    std::uint8_t byte = 0x61;
    const std::size_t sizes[] = {SIZE_MAX, SIZE_MAX / 2 + 1};
    for (std::size_t size : sizes) {
        tarnwel_compressor* compressor = nullptr;
        ASSERT_EQ(tarnwel_compressor_create(TARNWEL_MAX_WIDTH, &compressor), TARNWEL_OK);
        EXPECT_EQ(tarnwel_compressor_feed(compressor, &byte, 1), TARNWEL_OK);
        EXPECT_EQ(tarnwel_compressor_feed(compressor, &byte, size), TARNWEL_OUT_OF_MEMORY) << size;
        tarnwel_compressor_free(compressor);
        tarnwel_expander* expander = nullptr;
        ASSERT_EQ(tarnwel_expander_create(TARNWEL_MIN_WIDTH, &expander), TARNWEL_OK);
        EXPECT_EQ(tarnwel_expander_feed(expander, &byte, 1), TARNWEL_OK);
        EXPECT_EQ(tarnwel_expander_feed(expander, &byte, size), TARNWEL_OUT_OF_MEMORY) << size;
        tarnwel_expander_free(expander);
    }
}

} // namespace
} // namespace tarnwel::test
