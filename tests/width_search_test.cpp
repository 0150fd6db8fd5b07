// Choosing the width: which trials run, where each overflows, what is chosen.
#include <gtest/gtest.h>

#include <unistd.h>

#include "compressor.h"
#include "file_io.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

struct Search {
    CompressResult choice;
    std::vector<int> trials;
};

Search search(const Bytes& input, int cap = max_width, long start_at = 0) {
    std::FILE* file = std::tmpfile();
    if (!input.empty()) std::fwrite(input.data(), 1, input.size(), file);
    std::fseek(file, start_at, SEEK_SET);
    Search result;
    CompressOptions options;
    options.cap = cap;
    options.trial_started = [&result](int width) { result.trials.push_back(width); };
    Dictionary dictionary;
    {
        FileSource file_source(file);
        CodecSourceOver source(file_source);
        result.choice = search_width(source, dictionary, options);
    }
    std::fclose(file);
    return result;
}

// New strings that overflow a trial at bits: one more than its codes 256..last_code.
std::uint64_t overflow_at(int width) {
    return (std::uint64_t{1} << width) - 256;
}

TEST(WidthSearch, ShortOrEmptyInputMakesOneTrialAndChoosesEleven) {
    for (const Bytes& input : {Bytes{}, bytes_of("a"), text_like(3000, 4)}) {
        Search result = search(input);
        EXPECT_EQ(result.choice.result.status, CodecStatus::ok);
        EXPECT_EQ(result.trials, (std::vector<int>{12}));
        EXPECT_EQ(result.choice.width, 11);
        EXPECT_TRUE(result.choice.last_trial_fit);
        EXPECT_EQ(result.choice.last_trial_width, 12);
    }
}

TEST(WidthSearch, DictionaryExactlyFullIsNotAnOverflow) {
    Bytes source = random_bytes(60000, 11);
    for (int width : {12, 13}) {
        // Every code up to last_code given out, and no further new string.
        Search full = search(prefix_with_new_strings(source, overflow_at(width) - 1));
        EXPECT_EQ(full.trials.back(), width);
        EXPECT_TRUE(full.choice.last_trial_fit);
        EXPECT_EQ(full.choice.width, width - 1);
        // One new string more overflows, and the next width is tried.
        Search over = search(prefix_with_new_strings(source, overflow_at(width)));
        EXPECT_EQ(over.trials.back(), width + 1);
        EXPECT_EQ(over.choice.width, width);
    }
}

TEST(WidthSearch, TrialsClimbUntilOneFitsAndTheWidthBeforeItIsChosen) {
    Search result = search(random_bytes(15000, 3)); // overflows 12 and 13, fits 14
    EXPECT_EQ(result.trials, (std::vector<int>{12, 13, 14}));
    EXPECT_EQ(result.choice.width, 13);
    EXPECT_TRUE(result.choice.last_trial_fit);
    EXPECT_EQ(result.choice.last_trial_width, 14);
}

TEST(WidthSearch, ChoiceFollowsTheNewStringCountOfAnUnboundedParse) {
    const Bytes inputs[] = {random_bytes(5000, 5),  random_bytes(40000, 6), text_like(200000, 7),
                            random_bytes(70000, 8), Bytes(3000000, 'z'),    text_like(1000, 9)};
    for (const Bytes& input : inputs) {
        std::uint64_t strings = reference_new_strings(input);
        int expected = 12;
        while (strings >= overflow_at(expected))
            ++expected;
        Search result = search(input);
        EXPECT_EQ(result.choice.width, expected - 1) << input.size() << " bytes";
        EXPECT_EQ(result.trials.back(), expected);
    }
}

TEST(WidthSearch, EveryTrialStartsFromTheFirstByte) {
    Bytes input = random_bytes(15000, 3);
    // Left part-way through by its opener, and by the trials that stop early.
    Search result = search(input, max_width, 14000);
    EXPECT_EQ(result.trials, (std::vector<int>{12, 13, 14}));
    EXPECT_EQ(result.choice.width, 13);
}

TEST(WidthSearch, StopsAtTheCapWhenTheLastTrialStillOverflows) {
    Search result = search(random_bytes(15000, 3), 13);
    EXPECT_EQ(result.trials, (std::vector<int>{12, 13}));
    EXPECT_EQ(result.choice.width, 13);
    EXPECT_FALSE(result.choice.last_trial_fit);
}

TEST(WidthSearch, PipeIsSearchedLikeTheSameBytesInAFile) {
    Bytes input = random_bytes(15000, 3); // fits the pipe's buffer: no writer thread
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_EQ(write(pipe_ends[1], input.data(), input.size()), 15000);
    ::close(pipe_ends[1]);
    std::FILE* reading = fdopen(pipe_ends[0], "rb");
    Dictionary dictionary;
    FileSource pipe_source(reading);
    CodecSourceOver source(pipe_source);
    CompressResult choice = search_width(source, dictionary);
    std::fclose(reading);
    EXPECT_EQ(choice.result.status, CodecStatus::ok);
    EXPECT_EQ(choice.result.bytes_in, input.size());
    EXPECT_EQ(choice.width, search(input).choice.width);
}

} // namespace
} // namespace tarnwel::test
