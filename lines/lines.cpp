#include "lines.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace
{

bool known(std::int8_t level)
{
    return level >= 0;
}

int inputLine(std::size_t input)
{
    return LineRecord::kDcd + static_cast<int>(input);
}

} // namespace

bool Lines::switchPort(std::int64_t time, int port)
{
    if (m_record.started() && port == m_port) return false;
    m_port = port;
    m_record.switchPort(time, port);
    // The new port's counts go on as far as they were told; its edges judge
    // no pulse against the reads of the port before.
    m_told[port].late.fill(std::nullopt);
    m_switched = true;
    return true;
}

void Lines::sent(std::int64_t time, int line, int level)
{
    m_record.set(time, line, level);
}

// The changes since the last tick: into the record, the counts and the
// missed pulses. Without them the record takes the reads.
Lines::Tick Lines::take(std::int64_t readTime, const Reads &reads,
                        std::optional<std::int16_t> result, const std::vector<Modul1::Edge> &edges)
{
    const Levels before = m_read;
    for (std::size_t i = 0; i < 4; ++i)
        m_read[i] = LineRecord::level(reads[i]);
    Tick tick;
    Told &told = m_told[m_port];
    if (!result || *result < 0) {
        for (std::size_t i = 0; i < 4; ++i)
            m_record.set(readTime, inputLine(i), m_read[i]);
        // A port that cannot tell, or a driver without EDGES: no counts.
        if (!result || *result == Modul1::kEdgesUntold) {
            told.told = false;
            tick.countsChanged = true;
        }
        return tick;
    }

    std::array<std::vector<Modul1::Edge>, 4> byLine;
    for (const Modul1::Edge &edge : edges) {
        if (edge.line < Modul1::kLineDcd || edge.line > Modul1::kLineRi) continue;
        const std::size_t i = static_cast<std::size_t>(edge.line - Modul1::kLineDcd);
        const std::int32_t last = byLine[i].empty() ? told.count[i] : byLine[i].back().count;
        if (edge.count - last > 1)
            m_record.jump(edge.time, inputLine(i), edge.level);
        else
            m_record.set(edge.time, inputLine(i), edge.level);
        byLine[i].push_back(edge);
    }
    // Lines the record does not know yet (after a port switch) and that did
    // not change: as read.
    for (std::size_t i = 0; i < 4; ++i) {
        const int line = inputLine(i);
        if (byLine[i].empty() && m_record.levels()[static_cast<std::size_t>(line)] < 0)
            m_record.set(readTime, line, m_read[i]);
    }
    const bool first = !told.told;
    told.told = true;
    tick.missed = judge(told, before, byLine);
    tick.countsChanged = first || !edges.empty();
    return tick;
}

// A line that went to a level and came back between two reads pulsed
// unseen: its count grew by two more than the reads show. An edge that came
// between the read and EDGES (its level is not yet the read's) is judged at
// the next tick, and one that comes later than the read that saw it evens
// out then.
std::array<bool, 4> Lines::judge(Told &c, const Levels &before,
                                 const std::array<std::vector<Modul1::Edge>, 4> &edges)
{
    std::array<bool, 4> missed{};
    const bool switched = std::exchange(m_switched, false);
    for (std::size_t i = 0; i < 4; ++i) {
        std::int32_t counted = c.late[i].value_or(0);
        c.late[i].reset();
        std::int32_t last = c.count[i];
        std::int32_t lastDelta = 0;
        for (const Modul1::Edge &edge : edges[i]) {
            // Never back, the driver promises; one change if it went.
            lastDelta = edge.count > last ? edge.count - last : 1;
            counted += lastDelta;
            last = std::max(last, edge.count);
        }
        c.count[i] = last;
        const std::int8_t now = m_read[i];
        if (!edges[i].empty() && known(now) && LineRecord::level(edges[i].back().level) != now) {
            c.late[i] = lastDelta;
            counted -= lastDelta;
        }
        if (switched || !known(before[i]) || !known(now)) {
            c.unseen[i] = 0;
            continue;
        }
        const std::int32_t seen = before[i] != now ? 1 : 0;
        c.unseen[i] = std::max(c.unseen[i] + counted - seen, -1);
        if (c.unseen[i] >= 2) {
            missed[i] = true;
            c.unseen[i] %= 2;
        }
    }
    return missed;
}

std::optional<Lines::Counts> Lines::counts() const
{
    const auto told = m_told.find(m_port);
    if (told == m_told.end() || !told->second.told) return std::nullopt;
    return told->second.count;
}

bool Lines::saveAs(const QString &path, const QString &program, QString &error) const
{
    // Written beside the old file and renamed over it: whole or nothing.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        if (QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
            m_record.writeCsv(file);
        else
            m_record.writeVcd(file, QDateTime::currentDateTime(), program, LineRecord::now());
        if (file.commit()) return true;
    }
    error = file.errorString();
    return false;
}
