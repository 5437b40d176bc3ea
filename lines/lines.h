// What the lines did, as the monitor learns it: at every tick its reads of
// the four inputs and the changes the driver timed and counted since (EDGES),
// the levels it set, and its port switches. All of it goes into the record;
// from the reads and the edges together come each port's counts of changes
// and the pulses that the reads missed.
#pragma once

#include "linerecord.h"
#include "modul1.h"

#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

class Lines
{
public:
    // The inputs as read, DCD, DSR, CTS and RI: what the read-outs show.
    using Reads = std::array<std::int16_t, 4>;
    using Counts = std::array<std::int32_t, 4>;

    // What one tick's reads and edges gave.
    struct Tick {
        std::array<bool, 4> missed{}; // inputs whose reads missed a pulse
        bool countsChanged = false;   // counts() is to be shown anew
    };

    // Port `port` was selected at `time`. False when it was the current
    // port already: selecting it again goes on with its record and counts.
    bool switchPort(std::int64_t time, int port);
    // The monitor set output line `line` (LineRecord::kTxd ... kRts).
    void sent(std::int64_t time, int line, int level);
    // The inputs read at `readTime`, and what EDGES gave after the reads:
    // `result` as the binding returns it (nothing when the driver has no
    // EDGES), `edges` the changes it appended.
    Tick take(std::int64_t readTime, const Reads &reads, std::optional<std::int16_t> result,
              const std::vector<Modul1::Edge> &edges);

    // The current port's changes of each input since it was opened, as far
    // as the driver told them; nothing when it did not.
    std::optional<Counts> counts() const;

    // The record itself, for the timeline to draw as it grows.
    LineRecord &record() { return m_record; }
    const LineRecord &record() const { return m_record; }

    // Writes the whole record to `path`, as CSV when it ends in ".csv" and
    // as a Value Change Dump otherwise, naming `program` as its writer;
    // whole or not at all. False, with the reason in `error`, on failure.
    bool saveAs(const QString &path, const QString &program, QString &error) const;

private:
    using Levels = std::array<std::int8_t, 4>;

    // What the driver told of one port's inputs, kept across port switches
    // as the driver keeps its records.
    struct Told {
        bool told = false; // EDGES answered for this port
        Counts count{};    // the last count of each line
        // Changes counted but not seen by the reads: two make a missed pulse.
        Counts unseen{};
        // An edge that came after its tick's read, judged at the next tick.
        std::array<std::optional<std::int32_t>, 4> late;
    };

    std::array<bool, 4> judge(Told &told, const Levels &before,
                              const std::array<std::vector<Modul1::Edge>, 4> &edges);

    LineRecord m_record;
    std::map<int, Told> m_told;
    int m_port = 0;
    bool m_switched = false;
    // The levels of the last reads: the monitor's read-outs start at 0.
    Levels m_read{};
};
