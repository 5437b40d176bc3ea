#include "driverlines.h"

#include "ports.h"

#include <algorithm>

DriverLines::DriverLines(LineRecord *record, Taken taken)
    : m_record(record), m_taken(std::move(taken))
{
}

bool DriverLines::select(int port)
{
    if (Modul1::OPENCOM(Port::settings(port)) == 0) return false;
    m_port = port;
    if (m_record && m_record->port() != port) m_record->switchPort(LineRecord::now(), port);
    return true;
}

void DriverLines::set(WiringTest::Output output, int level)
{
    static constexpr std::array<void (*)(std::int16_t), 3> send = {Modul1::TXD, Modul1::DTR,
                                                                   Modul1::RTS};
    send[output](static_cast<std::int16_t>(level));
    if (m_record) m_record->set(LineRecord::now(), LineRecord::kTxd + output, level);
}

int DriverLines::read(WiringTest::Input input)
{
    static constexpr std::array<std::int16_t (*)(), 4> reader = {Modul1::DCD, Modul1::DSR,
                                                                 Modul1::CTS, Modul1::RI};
    if (input == WiringTest::kDcd) m_readTime = LineRecord::now();
    return m_read[input] = reader[input]();
}

WiringTest::Lines::Told DriverLines::changes(std::array<int, WiringTest::kInputCount> &counted)
{
    std::vector<Modul1::Edge> edges;
    std::optional<std::int16_t> result;
    for (int call = 0; call < 1024; ++call) {
        const std::size_t had = edges.size();
        result = Modul1::EDGES(edges, kEdgesAtOnce);
        if (!result || *result < kEdgesAtOnce || edges.size() == had) break;
    }
    if (result && *result == Modul1::kEdgesNoPort) return kGone;
    const bool told = result && *result >= 0;
    counted.fill(0);
    std::array<std::int32_t, 4> &last = m_counts[m_port];
    std::array<bool, 4> changed{};
    for (const Modul1::Edge &edge : edges) {
        if (edge.line < Modul1::kLineDcd || edge.line > Modul1::kLineRi) continue;
        const auto i = static_cast<std::size_t>(edge.line - Modul1::kLineDcd);
        // The first count a port tells in a test is one change: what came
        // before it others took.
        const std::int32_t changes = last[i] != 0 ? std::max(edge.count - last[i], 1) : 1;
        const int line = LineRecord::kDcd + static_cast<int>(i);
        if (m_record && changes > 1)
            m_record->jump(edge.time, line, edge.level);
        else if (m_record)
            m_record->set(edge.time, line, edge.level);
        counted[i] += changes;
        last[i] = std::max(last[i], edge.count);
        changed[i] = true;
    }
    // What the driver did not tell, as read.
    for (std::size_t i = 0; m_record && i < 4; ++i) {
        const int line = LineRecord::kDcd + static_cast<int>(i);
        if (!told || (!changed[i] && m_record->levels()[static_cast<std::size_t>(line)] < 0))
            m_record->set(m_readTime, line, m_read[i]);
    }
    if (!told) return kUntold;
    if (m_taken) m_taken(m_port, edges);
    return kCounted;
}

bool DriverLines::late(int port)
{
    const std::optional<Port::State> state = Port::state(port);
    return state && state->path.startsWith(QLatin1String("rfc2217://"));
}
