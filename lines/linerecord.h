// The record of all seven lines over time: what the monitor set and saw, the
// port switches, and the changes the driver counted but could not time. It
// belongs to the monitor, so the timeline window can come and go; it knows
// no widget, and saves itself as a Value Change Dump or as CSV.
#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

class QDateTime;
class QIODevice;

class LineRecord
{
public:
    // The rows, top to bottom, as the timeline draws them.
    enum Line : std::int8_t { kTxd, kDtr, kRts, kDcd, kDsr, kCts, kRi, kLineCount };
    static const std::array<const char *, kLineCount> kNames;

    enum Kind : std::uint8_t {
        kLevel, // a line took a level
        kJump,  // the driver counted changes it could not time; the level after them
        kPort,  // the monitor switched to another port
    };

    // 16 bytes: a million of them are 16 MB.
    struct Change {
        std::int64_t time; // microseconds of the monotonic clock
        std::int32_t port; // kPort: the new port's number
        std::int8_t line;  // kLevel, kJump: the line
        std::int8_t level; // level(): 1, 0, or -1 when it is not known
        Kind kind;
        std::uint8_t unused = 0;
    };
    static_assert(sizeof(Change) == 16);

    using Levels = std::array<std::int8_t, kLineCount>;

    // A million changes and a fifth, 19.2 MB; beyond that the oldest go.
    static constexpr std::size_t kCapacity = 1'200'000;

    explicit LineRecord(std::size_t capacity = kCapacity);

    // What a line's value from the driver means. A reader may return any
    // small integer, and the read-outs show it as it came; the record, the
    // timeline and the judgement of missed pulses take every positive value
    // as active (1), as the setters do, and 0 as inactive. A negative value
    // (-1 is the driver's "cannot be read") leaves the level unknown (-1).
    static std::int8_t level(int value) { return value > 0 ? 1 : value == 0 ? 0 : -1; }

    // Microseconds of the clock the driver times its edges with.
    static std::int64_t now();

    // The first call starts the record; every port switch is a change, and
    // makes the inputs unknown until they are read or told.
    void switchPort(std::int64_t time, int port);
    // Records the line's new level if it differs; nothing before the start.
    void set(std::int64_t time, int line, int level);
    // Changes counted but not timed: a mark at `time`, and the level after.
    void jump(std::int64_t time, int line, int level);

    bool started() const { return m_started; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    // Change i, 0 the oldest kept.
    const Change &at(std::size_t i) const { return m_changes[(m_first + i) % m_capacity]; }
    // The first change at or after `time`.
    std::size_t lowerBound(std::int64_t time) const;

    // The first port opening: the timeline's time 0, even after the oldest
    // changes went.
    std::int64_t originTime() const { return m_originTime; }
    // Where the record begins: its time, levels and port. After the oldest
    // changes went, the moment of the last one that went.
    std::int64_t startTime() const { return m_startTime; }
    const Levels &startLevels() const { return m_startLevels; }
    int startPort() const { return m_startPort; }
    // The levels and the port now.
    const Levels &levels() const { return m_levels; }
    int port() const { return m_port; }
    std::int64_t lastTime() const { return m_lastTime; }
    // The levels and port in effect at `time`; at most kCheckpointEvery
    // changes are looked at.
    Levels levelsAt(std::int64_t time, int *port = nullptr) const;

    // The earliest time at which something was added since the last call;
    // kNothing when nothing was. For a view that redraws only what changed.
    static constexpr std::int64_t kNothing = std::numeric_limits<std::int64_t>::max();
    std::int64_t takeChangedFrom();

    // The memory the record holds.
    std::size_t bytes() const;

    // The whole record as IEEE 1364 Value Change Dump: time 0 is its start,
    // in microseconds; -1 is x. The port switches are listed with their
    // times in a comment of the header, as some readers stop at a comment
    // among the changes. It ends with the time `end` (when it was saved), so
    // that readers show the last levels until then.
    void writeVcd(QIODevice &out, const QDateTime &date, const QString &version,
                  std::int64_t end) const;
    // time_s and the seven levels, a row for the start and one for every
    // moment at which a line changed.
    void writeCsv(QIODevice &out) const;

    static constexpr std::size_t kCheckpointEvery = 4096;

private:
    void add(const Change &change);

    // The levels and the port before the change numbered `serial`.
    struct Checkpoint {
        std::uint64_t serial;
        Levels levels;
        int port;
    };
    std::deque<Checkpoint> m_checkpoints;
    std::uint64_t m_serialFirst = 0; // the number of at(0) among all changes ever added

    std::vector<Change> m_changes;
    std::size_t m_capacity;
    std::size_t m_first = 0;
    std::size_t m_size = 0;
    bool m_started = false;
    std::int64_t m_originTime = 0;
    std::int64_t m_startTime = 0;
    std::int64_t m_lastTime = 0;
    std::int64_t m_changedFrom = kNothing;
    Levels m_startLevels;
    Levels m_levels;
    int m_startPort = 0;
    int m_port = 0;
};
