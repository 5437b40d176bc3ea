// A held port's record of its input-line changes, and what turns a port's
// own telling of its lines (levels, and where it has them, counters of
// changes) into changes for that record. Plain C++, on every platform.
#pragma once

#include "rscom.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace rscom
{

// The input lines in the order of their RSCOM_LINE_ numbers, less one.
enum class Input { Dcd, Dsr, Cts, Ri };
constexpr std::array<Input, 4> kInputs{Input::Dcd, Input::Dsr, Input::Cts, Input::Ri};

// Microseconds of the clock that edges are timed by: CLOCK_MONOTONIC
// (posix/clock.cpp), on Windows QueryPerformanceCounter's (win/edgewatch.cpp).
int64_t edgeClock();

// What a port can tell of its changes now.
enum class EdgeState {
    Told,   // its changes go to its record
    Untold, // it cannot tell them: only what a read sees
    Gone,   // its device is gone
    Away,   // it cannot be read for now, and comes back by itself
};

// The changes of a port not taken yet, oldest first, and every line's count
// since the port was opened. The record outlives the port's devices (an
// unplugged one, the one it is opened again on), so that counts go on. Its
// own lock lets a port's thread add while the entries take.
class EdgeRecord
{
public:
    static constexpr size_t kCapacity = 65536;

    explicit EdgeRecord(size_t capacity = kCapacity) : m_capacity(capacity) {}

    // `changes` changes of `line` (none: nothing) at `time`, the line at
    // `level` after the last of them. Beyond the capacity the oldest change
    // goes; the counts still tell it.
    void add(Input line, int64_t changes, bool level, int64_t time);
    // Changes that were counted and are already gone: only the count goes on.
    void skip(Input line, int64_t changes);
    // Moves the oldest changes, at most `max`, into `out`; how many.
    size_t take(rscom_edge *out, size_t max);

    int64_t count(Input line) const;
    size_t size() const;

private:
    mutable std::mutex m_lock;
    size_t m_capacity;
    std::deque<rscom_edge> m_edges;
    std::array<int64_t, 4> m_counts{};
};

// A port's lines as it tells them: each line's level, and the counters of
// changes where the port keeps them (as the kernel does, counting from when
// the device appeared and wrapping around).
struct LineSample {
    std::array<bool, 4> levels{};
    std::optional<std::array<uint32_t, 4>> counts;
};

// Turns a port's successive samples into changes for its record. The counts
// are the truth: a count that grew by more than one is as many changes. A
// level that changed while the count did not (a read came first, or a port
// that counts some changes only, as the 8250 counts only RI's falling edge)
// is one change, and the count that comes after it for the same line is
// that change, not another one.
class EdgeTracker
{
public:
    // `first` is the port as it was opened; counts in it tell that the port
    // counts.
    explicit EdgeTracker(const LineSample &first)
        : m_last(first), m_counting(first.counts.has_value())
    {
    }

    // A sample from a wake or from EDGES, with the counts; or from a read,
    // with the levels only.
    void update(EdgeRecord &record, const LineSample &sample, int64_t time);

    // A line's level as last told.
    bool level(Input line) const { return m_last.levels[static_cast<size_t>(line)]; }

private:
    LineSample m_last;
    bool m_counting;
    std::array<bool, 4> m_uncounted{}; // a change told from its level alone, not counted yet
};

} // namespace rscom
