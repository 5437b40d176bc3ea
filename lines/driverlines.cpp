#include "driverlines.h"

#include "ports.h"

bool DriverLines::select(int port)
{
    if (!Modul1::opened(Modul1::OPENCOM(Port::settings(port)))) return false;
    if (m_monitor) m_monitor->switchPort(LineRecord::now(), port);
    return true;
}

void DriverLines::set(WiringTest::Output output, int level)
{
    static constexpr std::array<void (*)(std::int16_t), 3> send = {Modul1::TXD, Modul1::DTR,
                                                                   Modul1::RTS};
    send[output](static_cast<std::int16_t>(level));
    if (m_monitor) m_monitor->sent(LineRecord::now(), LineRecord::kTxd + output, level);
}

int DriverLines::read(WiringTest::Input input)
{
    static constexpr std::array<std::int16_t (*)(), 4> reader = {Modul1::DCD, Modul1::DSR,
                                                                 Modul1::CTS, Modul1::RI};
    if (input == WiringTest::kDcd) m_readTime = LineRecord::now();
    return m_reads[input] = reader[input]();
}

std::optional<std::int16_t> takeAllEdges(std::vector<Modul1::Edge> &edges, std::int16_t atOnce)
{
    std::optional<std::int16_t> result;
    // A driver that keeps a buffer full is still asked no more than this.
    for (int call = 0; call < 1024; ++call) {
        const std::size_t had = edges.size();
        result = Modul1::EDGES(edges, atOnce);
        if (!result || *result < atOnce || edges.size() == had) break;
    }
    return result;
}

WiringTest::Driver::Told DriverLines::changes(std::array<int, WiringTest::kInputCount> &counted)
{
    std::vector<Modul1::Edge> edges;
    const std::optional<std::int16_t> result = takeAllEdges(edges);
    if (m_monitor) m_monitor->take(m_readTime, m_reads, result, edges);
    if (result && *result == Modul1::kEdgesNoPort) return kGone;
    if (!result || *result < 0) return kUntold;
    // Each edge is a change at least; more where its count jumped.
    counted.fill(0);
    for (const Modul1::Edge &edge : edges) {
        if (edge.line >= Modul1::kLineDcd && edge.line <= Modul1::kLineRi)
            ++counted[static_cast<std::size_t>(edge.line - Modul1::kLineDcd)];
    }
    return kCounted;
}

bool DriverLines::late(int port)
{
    const std::optional<Port::State> state = Port::state(port);
    return state && state->path.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive);
}
