#include "frozen_switching.h"

#include <algorithm>
#include <utility>

#include "processor_time.h"
#include "processors.h"

namespace tarnwel {

namespace {

// Long enough that the scheduler's turns (a few milliseconds each) and a
// coarse clock (Windows counts thread time in ticks of about 16 ms) average
// out; short enough that a run on a busy machine soon stops paying for a
// second thread it does not have.
constexpr double window_seconds = 0.05;

// The share of a core each thread that sets the pace must get for the
// second thread to be worth keeping: alone on a core, or beside a job of
// lower priority, it gets nearly all of it; taking turns with threads of
// like priority, two thirds of it or less.
constexpr double least_share = 0.8;

// A window short of least_share but not of this may be the scheduler's
// turns falling unevenly, or a moment's work elsewhere: the parse comes
// home only when the window before was short too. Beside a job of like
// priority a thread gets less than this.
constexpr double clearly_short = 0.7;

// But on a machine so busy that a thread gets less than this, the run's
// threads each get a like share of the processors, and two threads get
// more of them than one: the second thread is kept, or taken up again
// when the calling thread alone gets less than crowded_share_alone (the
// share the same crowd leaves one thread of two at crowded_share).
constexpr double crowded_share = 0.4;
constexpr double crowded_share_alone = 0.45;

// The share of the window the unbounded parse must have waited for slots
// in the ring for the frozen parse to count as holding it up.
constexpr double held_up = 0.1;

// Windows on this thread before the first trial of the second thread, and
// the most there may be between trials: each trial that finds the second
// thread short of a core doubles the wait, so that beside a job of like
// priority trials cost little, and beside one that ends or drops its
// priority the second thread is soon taken up again.
constexpr int first_trial_after = 4;
constexpr int most_trial_after = 32;

// Where the system tells how long a thread waited for a processor, how
// often a window is looked at before its end, and the share below which
// a pace-setting thread is clearly short of a core so far. Over a few of
// the scheduler's turns a thread taking turns with another gets half of a
// core or so, beside a job of lower priority nearly all of it.
constexpr double look_seconds = 0.01;
constexpr double short_so_far = 0.6;

// The most processor time, in cores, the run's threads may have had
// together over a window for it to count as their sharing one core: one,
// and what the run's helpers (faulting a table's pages in) ran beside it.
constexpr double about_one_core = 1.5;

// Where the system tells the time other processes' threads of like
// priority ran, how much of a core of it, over a window, beyond the
// processors the run's two threads leave free, shows that a second thread
// takes turns with it. The time is counted in ticks, so that a window's
// reading is off by a few tenths of a core either way: half a core parts
// a busy core from a free one.
constexpr double like_priority_cores = 0.5;

// What a thread got of a core over a window: the time it ran, the time it
// was ready to run, and the share of that it ran.
struct Share {
    double ran = 0;
    double ready = 0;
    double got = 1;
    bool waits_told = false; // the system told how long it waited
};

// From a thread's times at the window's ends. Where the system does not
// tell how long the thread waited for a processor, the time it was ready
// is ready_otherwise when that is known (not negative).
std::optional<Share> share_over(const std::optional<ThreadTimes>& before,
                                const std::optional<ThreadTimes>& after, double ready_otherwise) {
    if (!before || !after) return std::nullopt;
    Share share;
    share.ran = after->ran - before->ran;
    share.ready = ready_otherwise;
    share.waits_told = before->kept_waiting && after->kept_waiting;
    if (share.waits_told) share.ready = share.ran + (*after->kept_waiting - *before->kept_waiting);
    if (share.ready < 0) return std::nullopt;
    share.got = share.ready > 0 ? std::min(1.0, share.ran / share.ready) : 1.0;
    return share;
}

std::optional<ThreadTimes> frozen_thread_times(FrozenRing& ring) {
    WatchedThread thread;
    {
        std::lock_guard hold(ring.lock);
        thread = ring.frozen_thread;
    }
    if (thread.id == 0 && thread.clock == 0) return std::nullopt; // not under way yet
    return thread_times(thread);
}

void start_window(FrozenSwitching& switching, std::chrono::steady_clock::time_point now) {
    SwitchWatch& watch = switching.watch;
    watch.started = true;
    watch.began = now;
    watch.looked_at = 0;
    watch.unbounded_times = thread_times(watch.unbounded);
    watch.waited_seconds = switching.ring.waited_seconds;
    watch.process_seconds = process_processor_seconds();
    watch.others_like_seconds = others_like_priority_seconds();
    watch.frozen_times =
        switching.on_second_thread ? frozen_thread_times(switching.ring) : std::nullopt;
}

// What a window on the second thread, whole or so far, showed.
struct Reading {
    double elapsed = 0;
    bool measured = false; // a thread that sets the pace was ready for most of it
    double least = 1;      // the least share of a core such a thread got
    double run_ran = 0;    // seconds all the run's threads ran
    std::optional<Share> unbounded;
};

// The pace is set by the unbounded parse, or by the frozen one where it
// held the ring up (the unbounded parse waited for slots): the least such
// a thread got of a core, over a window it was ready to run for most of,
// decides. The frozen parse a little behind is no loss, whatever it gets.
// Tried and dropped: counting the frozen parse whenever it was ready for
// most of the window; a few blocks behind, it was often short of a core
// beside other jobs, at no cost to the run.
Reading read_window(FrozenSwitching& switching, double elapsed) {
    SwitchWatch& watch = switching.watch;
    Reading reading;
    reading.elapsed = elapsed;
    double slot_waits = switching.ring.waited_seconds - watch.waited_seconds;
    reading.unbounded =
        share_over(watch.unbounded_times, thread_times(watch.unbounded), elapsed - slot_waits);
    std::optional<Share> frozen;
    if (slot_waits >= held_up * elapsed)
        frozen = share_over(watch.frozen_times, frozen_thread_times(switching.ring), -1);
    for (const std::optional<Share>& share : {reading.unbounded, frozen}) {
        if (!share || share->ready < elapsed / 2) continue;
        reading.least = std::min(reading.least, share->got);
        reading.measured = true;
    }
    reading.run_ran = process_processor_seconds() - watch.process_seconds;
    return reading;
}

// A machine so crowded that two threads get more of it than one (see
// crowded_share); where no thread set the pace, least is a whole core.
bool crowded(const Reading& reading) {
    return reading.least < crowded_share;
}

// Whether the second thread paid over the window, by the share given.
bool window_pays(const Reading& reading, const SwitchWatch& watch, double enough) {
    // The run's threads together had nearly all the processors: what a
    // thread was short of went to the run's own helpers.
    bool run_had_them = reading.run_ran >= least_share * watch.processors * reading.elapsed;
    // Both mostly waiting, the window says nothing either way.
    return !reading.measured || reading.least >= enough || crowded(reading) || run_had_them;
}

// Whether this thread was short of a core because the run's own threads
// shared one with it: between them about one core, the others running at
// least half as long as this thread waited.
bool shared_among_own(const Reading& reading) {
    const std::optional<Share>& unbounded = reading.unbounded;
    if (!unbounded || !unbounded->waits_told) return false;
    double waited = unbounded->ready - unbounded->ran;
    return reading.run_ran <= about_one_core * reading.elapsed &&
           reading.run_ran - unbounded->ran >= waited / 2;
}

// Whether other processes' threads of like priority kept the processors so
// busy over the window that a second thread takes turns with them. There
// the scheduler moves the threads round, so that each gets a like share
// over time: a window in which this thread had a core to itself is only
// its turn, and the turns that follow cost more than the turn gains.
bool like_priority_busy(const SwitchWatch& watch, double elapsed) {
    std::optional<double> now = others_like_priority_seconds();
    if (!now || !watch.others_like_seconds) return false;
    double cores = (*now - *watch.others_like_seconds) / elapsed;
    return cores > static_cast<double>(watch.processors) - 2 + like_priority_cores;
}

FrozenPlace come_home(SwitchWatch& watch) {
    if (watch.trial) watch.trial_after = std::min(2 * watch.trial_after, most_trial_after);
    watch.trial = false;
    watch.windows_here = 0;
    watch.short_before = false;
    return FrozenPlace::this_thread;
}

// The second thread short of a core over a window, whole (little: only a
// little short) or so far: where the run's own threads shared a core, it
// is started afresh, once; a window a little short is confirmed by the
// next; otherwise the parse comes home. A trial's thread is new already.
FrozenPlace when_short(SwitchWatch& watch, const Reading& reading, bool little) {
    if (!watch.trial && !watch.started_afresh && shared_among_own(reading)) {
        watch.started_afresh = true;
        watch.short_before = false;
        return FrozenPlace::second_thread_afresh;
    }
    if (little && !watch.short_before) {
        watch.short_before = true;
        return FrozenPlace::second_thread;
    }
    return come_home(watch);
}

// With the parse on the second thread, at a window's end.
FrozenPlace second_thread_pays(FrozenSwitching& switching, double elapsed) {
    SwitchWatch& watch = switching.watch;
    Reading reading = read_window(switching, elapsed);
    if (!crowded(reading) && like_priority_busy(watch, elapsed)) return come_home(watch);
    if (!window_pays(reading, watch, least_share))
        return when_short(watch, reading, reading.least >= clearly_short);
    watch.trial_after = first_trial_after;
    watch.trial = false;
    watch.windows_here = 0;
    watch.short_before = false;
    watch.started_afresh = false;
    return FrozenPlace::second_thread;
}

// With the parse on the second thread, within a window: where the window
// is clearly short so far, it ends. Only where the system tells each
// thread's waits: a coarse clock needs the whole window.
std::optional<FrozenPlace> look_within_window(FrozenSwitching& switching, double elapsed) {
    SwitchWatch& watch = switching.watch;
    if (!watch.unbounded_times || !watch.unbounded_times->kept_waiting ||
        elapsed - watch.looked_at < look_seconds)
        return std::nullopt;
    watch.looked_at = elapsed;
    Reading reading = read_window(switching, elapsed);
    if (window_pays(reading, watch, short_so_far)) return std::nullopt;
    return when_short(watch, reading, false);
}

// With the parse on this thread, whether to take the second thread up
// again: on a crowded machine, or for a trial. A window in which others of
// like priority kept the processors busy does not count towards a trial.
FrozenPlace second_thread_wanted(FrozenSwitching& switching, double elapsed) {
    SwitchWatch& watch = switching.watch;
    std::optional<Share> alone =
        share_over(watch.unbounded_times, thread_times(watch.unbounded), elapsed);
    bool crowded = alone && alone->ready >= elapsed / 2 && alone->got < crowded_share_alone;
    if (!crowded &&
        (like_priority_busy(watch, elapsed) || ++watch.windows_here < watch.trial_after))
        return FrozenPlace::this_thread;
    watch.trial = !crowded;
    return FrozenPlace::second_thread;
}

// Where the frozen parse should run from the block about to be handed
// over. Where a window ends, says what it measured and lets the next
// window start once the parse is where it should be.
FrozenPlace wanted_place(FrozenSwitching& switching, std::uint64_t block) {
    if (switching.plan) return switching.plan(block);
    SwitchWatch& watch = switching.watch;
    FrozenPlace here =
        switching.on_second_thread ? FrozenPlace::second_thread : FrozenPlace::this_thread;
    if (!watch.started) return here;
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - watch.began).count();
    std::optional<FrozenPlace> place;
    if (elapsed >= window_seconds)
        place = switching.on_second_thread ? second_thread_pays(switching, elapsed)
                                           : second_thread_wanted(switching, elapsed);
    else if (switching.on_second_thread)
        place = look_within_window(switching, elapsed);
    if (!place) return here;
    watch.started = false;
    return *place;
}

// The input's bytes before block `block`, which is still in the ring of
// blocks (it is not behind the frozen parse).
std::uint64_t bytes_before(const FrozenSwitching& switching, const BlockRing& blocks,
                           std::uint64_t block) {
    std::uint64_t bytes = switching.handed_bytes;
    for (std::uint64_t later = block; later < switching.handed_over; ++later)
        bytes -= blocks.sizes[ring_slot(blocks, later)];
    return bytes;
}

// Goes on with the frozen parse on this thread, from where the parked
// second thread left it.
void take_parse_from_ring(FrozenSwitching& switching) {
    FrozenRing& ring = switching.ring;
    FrozenFollowing& following = switching.following;
    following.parse = std::move(ring.parse);
    following.blocks = std::move(ring.blocks);
    following.handed_over = switching.handed_over;
    following.restart = ring.restart;
    following.restart_pending = ring.restarts != ring.restarts_seen;
    following.failed = false;
    FrozenParse& parse = following.parse;
    if (following.restart_pending)
        following.parsed = ring.restart.block;
    else if (parse.active)
        following.parsed = ring.next_block;
    else
        following.parsed = switching.handed_over; // no width has overflowed: nothing to parse
    if (parse.active && !following.restart_pending) {
        // The unbounded parse's strings, followed again from the latest
        // restart, start that many bytes before the next block.
        const FrozenRestart& restart = switching.restart;
        auto start =
            static_cast<std::int64_t>(switching.restart_at) -
            static_cast<std::int64_t>(bytes_before(switching, following.blocks, following.parsed));
        restart_following(following.unbounded, restart.shared_codes, restart.shared, start);
    }
    // This thread probes only the newest tables now.
    release_old_tables(*switching.dictionary, switching.dictionary->generation);
}

// Parks the second thread and goes on with the frozen parse on this one.
// False when the frozen stream has failed.
bool move_to_this_thread(FrozenSwitching& switching) {
    if (!park_frozen_ring(switching.ring)) return false;
    take_parse_from_ring(switching);
    return true;
}

// Parks the second thread and starts another in its place, which goes on
// where it left off; where no thread is to be had, the parse goes on on
// this thread. False when the frozen stream has failed.
bool start_second_thread_afresh(FrozenSwitching& switching) {
    if (!park_frozen_ring(switching.ring)) return false;
    if (resume_frozen_ring(switching.ring)) return true;
    take_parse_from_ring(switching);
    switching.on_second_thread = false;
    return true;
}

// Hands the frozen parse, where this thread has it, back to the second
// thread, started again. False, with the parse still on this thread, when
// no thread is to be had.
bool move_to_second_thread(FrozenSwitching& switching) {
    FrozenRing& ring = switching.ring;
    FrozenFollowing& following = switching.following;
    // First what may throw, so that the parse stays whole on this thread.
    ring.scouted.resize(following.blocks.copies.size());
    for (ScoutedBlock& scouted : ring.scouted)
        scouted.valid = false; // the blocks in the ring were not scouted
    ring.blocks = std::move(following.blocks);
    ring.parse = std::move(following.parse);
    {
        std::lock_guard hold(ring.lock);
        ring.handed_over = switching.handed_over;
        ring.next_block = following.parsed;
        // A restart the thread left untaken when it parked is the
        // following's now, taken or still pending.
        ring.restarts_seen = ring.restarts;
        if (following.restart_pending) {
            ring.restart = following.restart;
            ++ring.restarts;
        }
        ring.holding = following.restart_pending ? following.restart.block : following.parsed;
        ring.holds_none = !ring.parse.active && !following.restart_pending;
        ring.view = view_of(*switching.dictionary);
        ring.generation_in_use = ring.view.generation;
    }
    if (resume_frozen_ring(ring)) return true;
    following.parse = std::move(ring.parse);
    following.blocks = std::move(ring.blocks);
    return false;
}

} // namespace

RingStart start_frozen_switching(FrozenSwitching& switching, Dictionary& dictionary,
                                 ByteSink& output,
                                 std::function<FrozenPlace(std::uint64_t block)> plan) {
    switching.dictionary = &dictionary;
    switching.following.dictionary = &dictionary;
    switching.plan = std::move(plan);
    switching.watch.unbounded = watch_this_thread();
    switching.watch.processors = usable_processors();
    switching.watch.trial_after = first_trial_after;
    return start_frozen_ring(switching.ring, dictionary, output);
}

bool hand_over_block(FrozenSwitching& switching, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes) {
    FrozenPlace place = wanted_place(switching, switching.handed_over);
    bool second = place != FrozenPlace::this_thread;
    if (place == FrozenPlace::second_thread_afresh && switching.on_second_thread) {
        if (!start_second_thread_afresh(switching)) return false;
    } else if (second != switching.on_second_thread) {
        if (second)
            second = move_to_second_thread(switching);
        else if (!move_to_this_thread(switching))
            return false;
        switching.on_second_thread = second;
    }
    if (!switching.plan && !switching.watch.started)
        start_window(switching, std::chrono::steady_clock::now());
    // The table's next growth is prepared on another core only where one
    // is free: where the frozen parse is on the second thread.
    switching.dictionary->prepare_ahead = switching.on_second_thread;
    bool handed = false;
    if (switching.on_second_thread) {
        handed = hand_over_block(switching.ring, data, size, notes);
    } else {
        handed = hand_over_block(switching.following, data, size, notes);
        release_old_tables(*switching.dictionary, switching.dictionary->generation);
    }
    if (!handed) return false;
    ++switching.handed_over;
    switching.last_block_start = switching.handed_bytes;
    switching.handed_bytes += size;
    return true;
}

void tell_unbounded_codes(FrozenSwitching& switching, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity) {
    // Kept up to date on the second thread too, so that the following can
    // take over at any block.
    tell_unbounded_codes(switching.following, codes, made, capacity);
}

void restart_frozen(FrozenSwitching& switching, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset) {
    switching.restart = {width, shared, shared_codes, switching.handed_over - 1, offset};
    switching.restart_at = switching.last_block_start + offset;
    if (switching.on_second_thread)
        restart_frozen(switching.ring, width, shared, shared_codes, offset);
    else
        restart_frozen(switching.following, width, shared, shared_codes, offset);
}

void finish_frozen(FrozenSwitching& switching) {
    if (switching.on_second_thread) {
        finish_frozen(switching.ring);
        switching.following.parse = std::move(switching.ring.parse);
    } else {
        finish_frozen(switching.following);
        release_old_tables(*switching.dictionary, switching.dictionary->generation);
    }
}

} // namespace tarnwel
