#include "linerecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

const std::array<const char *, LineRecord::kLineCount> LineRecord::kNames = {
    "TxD", "DTR", "RTS", "DCD", "DSR", "CTS", "RI"};

namespace
{

// Written out in pieces of this size, so that a long record never sits in
// memory twice.
constexpr qsizetype kChunk = 1 << 16;

void flush(QIODevice &out, QByteArray &text, bool always = false)
{
    if (always || text.size() >= kChunk) {
        out.write(text);
        text.clear();
    }
}

// Seconds with six decimals.
QByteArray seconds(std::int64_t microseconds)
{
    return QByteArray::number(microseconds / 1000000) + '.' +
           QByteArray::number(microseconds % 1000000).rightJustified(6, '0');
}

char vcdLevel(int level)
{
    return level == 1 ? '1' : level == 0 ? '0' : 'x';
}

// The signals' identifiers: one printable character each.
char vcdId(int line)
{
    return static_cast<char>('!' + line);
}

} // namespace

LineRecord::LineRecord(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1))
{
    // Reserved at once, so that the record never holds two copies while it
    // grows; pages not written yet take no memory.
    m_changes.reserve(m_capacity);
    m_startLevels.fill(-1);
    m_levels.fill(-1);
}

std::int64_t LineRecord::now()
{
    // CLOCK_MONOTONIC on Linux, QueryPerformanceCounter on Windows: the
    // driver's clock.
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void LineRecord::switchPort(std::int64_t time, int port)
{
    if (!m_started) {
        m_started = true;
        m_originTime = m_startTime = m_lastTime = time;
        m_startPort = m_port = port;
        m_changedFrom = time;
        return;
    }
    add(Change{time, port, 0, 0, kPort});
    for (int line = kDcd; line <= kRi; ++line)
        set(time, line, -1);
}

void LineRecord::set(std::int64_t time, int line, int level)
{
    if (!m_started || line < 0 || line >= kLineCount) return;
    level = LineRecord::level(level);
    if (m_levels[static_cast<std::size_t>(line)] == level) return;
    add(Change{time, 0, static_cast<std::int8_t>(line), static_cast<std::int8_t>(level), kLevel});
}

void LineRecord::jump(std::int64_t time, int line, int level)
{
    if (!m_started || line < 0 || line >= kLineCount) return;
    add(Change{time, 0, static_cast<std::int8_t>(line), LineRecord::level(level), kJump});
}

void LineRecord::add(const Change &change)
{
    Change c = change;
    // The edges of a port come after the reads of the tick that took them,
    // and a port's edges from before it was selected arrive after the
    // switch: the record keeps its order.
    c.time = std::max(c.time, m_lastTime);
    m_lastTime = c.time;
    m_changedFrom = std::min(m_changedFrom, c.time);
    const std::uint64_t serial = m_serialFirst + m_size;
    if (serial % kCheckpointEvery == 0)
        m_checkpoints.push_back(Checkpoint{serial, m_levels, m_port});
    if (c.kind == kPort)
        m_port = c.port;
    else
        m_levels[static_cast<std::size_t>(c.line)] = c.level;

    if (m_size < m_capacity) {
        m_changes.push_back(c);
        ++m_size;
        return;
    }
    // Full: the oldest goes into the start.
    Change &oldest = m_changes[m_first];
    if (oldest.kind == kPort)
        m_startPort = oldest.port;
    else
        m_startLevels[static_cast<std::size_t>(oldest.line)] = oldest.level;
    m_startTime = oldest.time;
    oldest = c;
    m_first = (m_first + 1) % m_capacity;
    ++m_serialFirst;
    while (!m_checkpoints.empty() && m_checkpoints.front().serial < m_serialFirst)
        m_checkpoints.pop_front();
}

std::size_t LineRecord::bytes() const
{
    return sizeof(*this) + m_changes.capacity() * sizeof(Change) +
           m_checkpoints.size() * sizeof(Checkpoint);
}

std::size_t LineRecord::lowerBound(std::int64_t time) const
{
    std::size_t low = 0, high = m_size;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (at(middle).time < time)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

LineRecord::Levels LineRecord::levelsAt(std::int64_t time, int *port) const
{
    Levels levels = m_startLevels;
    int current = m_startPort;
    // The last checkpoint before the first change after `time`.
    std::size_t from = 0;
    std::size_t low = 0, high = m_size;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (at(middle).time <= time)
            low = middle + 1;
        else
            high = middle;
    }
    const std::uint64_t until = m_serialFirst + low;
    const auto checkpoint = std::upper_bound(
        m_checkpoints.begin(), m_checkpoints.end(), until,
        [](std::uint64_t serial, const Checkpoint &c) { return serial < c.serial; });
    if (checkpoint != m_checkpoints.begin()) {
        const Checkpoint &c = *std::prev(checkpoint);
        levels = c.levels;
        current = c.port;
        from = static_cast<std::size_t>(c.serial - m_serialFirst);
    }
    for (std::size_t i = from; i < m_size; ++i) {
        const Change &c = at(i);
        if (c.time > time) break;
        if (c.kind == kPort)
            current = c.port;
        else
            levels[static_cast<std::size_t>(c.line)] = c.level;
    }
    if (port != nullptr) *port = current;
    return levels;
}

std::int64_t LineRecord::takeChangedFrom()
{
    return std::exchange(m_changedFrom, kNothing);
}

void LineRecord::writeVcd(QIODevice &out, const QDateTime &date, const QString &version,
                          std::int64_t end) const
{
    QByteArray text;
    text +=
        "$date\n\t" + date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + "\n$end\n";
    text += "$version\n\t" + version.toUtf8() + "\n$end\n";
    text += "$timescale 1 us $end\n";
    QByteArray switches;
    for (std::size_t i = 0; i < m_size; ++i) {
        const Change &c = at(i);
        if (c.kind == kPort)
            switches += '\t' + QByteArray::number(c.time - m_startTime) + " COM" +
                        QByteArray::number(c.port) + '\n';
    }
    if (!switches.isEmpty()) text += "$comment\n\tPort switches (us):\n" + switches + "$end\n";
    text += "$scope module COM" + QByteArray::number(m_startPort) + " $end\n";
    for (int line = 0; line < kLineCount; ++line)
        text += QByteArray("$var wire 1 ") + vcdId(line) + ' ' + kNames[line] + " $end\n";
    text += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (int line = 0; line < kLineCount; ++line)
        text += QByteArray(1, vcdLevel(m_startLevels[line])) + vcdId(line) + '\n';
    text += "$end\n";

    std::int64_t written = 0;
    for (std::size_t i = 0; i < m_size; ++i) {
        const Change &c = at(i);
        if (c.kind == kPort) continue;
        const std::int64_t time = c.time - m_startTime;
        if (time != written) {
            text += '#' + QByteArray::number(time) + '\n';
            written = time;
        }
        text += QByteArray(1, vcdLevel(c.level)) + vcdId(c.line) + '\n';
        flush(out, text);
    }
    if (end - m_startTime > written) text += '#' + QByteArray::number(end - m_startTime) + '\n';
    flush(out, text, true);
}

void LineRecord::writeCsv(QIODevice &out) const
{
    QByteArray text = "time_s";
    for (const char *name : kNames)
        text += QByteArray(",") + name;
    text += '\n';

    Levels levels = m_startLevels;
    auto row = [&](std::int64_t time) {
        text += seconds(time - m_startTime);
        for (std::int8_t level : levels)
            text += ',' + QByteArray::number(level);
        text += '\n';
        flush(out, text);
    };
    row(m_startTime);
    // A moment is written once all its changes are in.
    bool pending = false;
    std::int64_t moment = m_startTime;
    for (std::size_t i = 0; i < m_size; ++i) {
        const Change &c = at(i);
        if (pending && c.time != moment) {
            row(moment);
            pending = false;
        }
        if (c.kind == kPort) continue;
        moment = c.time;
        levels[static_cast<std::size_t>(c.line)] = c.level;
        pending = true;
    }
    if (pending) row(moment);
    flush(out, text, true);
}
