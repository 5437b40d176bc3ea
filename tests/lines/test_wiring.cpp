// The wiring test's judgement: wirings played to it, a row each, on a clock
// that only counts.
#include "wiring.h"

#include <QTest>

#include <deque>

namespace
{

// Each input of the tested ports says where it comes from: "0", "1", an
// output of its own port ("DTR"), of the first or second port ("a.RTS",
// "b.DTR"), inverted with "~"; "flicker" moves by itself, "pulse" reads 1
// and pulses between the reads; "fail@n" stops answering after n reads.
class Played final : public WiringTest::Lines, public WiringTest::Clock
{
public:
    Played(std::vector<int> ports, QStringList sources, bool late)
        : m_ports(std::move(ports)), m_sources(std::move(sources)), m_late(late)
    {
    }

    bool select(int port) override
    {
        const auto it = std::find(m_ports.begin(), m_ports.end(), port);
        m_current = static_cast<std::size_t>(it - m_ports.begin());
        return it != m_ports.end();
    }
    void set(WiringTest::Output output, int level) override { m_out[m_current][output] = level; }
    int read(WiringTest::Input input) override
    {
        const std::size_t i = m_current * 4 + input;
        return m_last[i] = level(i);
    }
    int level(std::size_t i)
    {
        QString source = m_sources[static_cast<qsizetype>(i)];
        if (source.startsWith(QLatin1String("fail@")))
            return ++m_reads[i] > source.mid(5).toInt() ? -1 : 0;
        if (source == QLatin1String("flicker"))
            return (m_seed = m_seed * 1103515245 + 12345) >> 30 & 1;
        if (source == QLatin1String("pulse") || source == QLatin1String("1")) return 1;
        const bool inverted = source.startsWith(QLatin1Char('~'));
        if (inverted) source.remove(0, 1);
        std::size_t port = i / 4;
        if (source.startsWith(QLatin1String("a."))) port = 0;
        if (source.startsWith(QLatin1String("b."))) port = 1;
        source = source.section(QLatin1Char('.'), -1);
        const int output = static_cast<int>(QStringList{"TxD", "DTR", "RTS"}.indexOf(source));
        if (output < 0) return 0;
        return m_out[port][static_cast<std::size_t>(output)] ^ (inverted ? 1 : 0);
    }
    Told changes(std::array<int, 4> &counted) override
    {
        for (std::size_t line = 0; line < 4; ++line) {
            const std::size_t i = m_current * 4 + line;
            counted[line] =
                (m_last[i] != m_told[i] ? 1 : 0) +
                (m_sources[static_cast<qsizetype>(i)] == QLatin1String("pulse") ? 2 : 0);
            m_told[i] = m_last[i];
        }
        return kCounted;
    }
    bool late(int) override { return m_late; }

    void after(int milliseconds, std::function<void()> then) override
    {
        m_pending.emplace_back(m_now + milliseconds, std::move(then));
    }
    // Runs what is due until nothing is; how long that took.
    int run()
    {
        while (!m_pending.empty()) {
            auto [time, then] = std::move(m_pending.front());
            m_pending.pop_front();
            m_now = time;
            then();
        }
        return m_now;
    }

private:
    std::vector<int> m_ports;
    QStringList m_sources;
    bool m_late;
    std::size_t m_current = 0;
    std::array<std::array<int, 3>, 2> m_out{};
    std::array<int, 8> m_reads{}, m_last{}, m_told{};
    unsigned m_seed = 7;
    int m_now = 0;
    std::deque<std::pair<int, std::function<void()>>> m_pending;
};

} // namespace

class TestWiring : public QObject
{
    Q_OBJECT

private slots:
    void wirings_data();
    void wirings();
};

void TestWiring::wirings_data()
{
    QTest::addColumn<int>("other");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<bool>("late");
    QTest::addColumn<QStringList>("result");
    QTest::addColumn<int>("milliseconds");

    const QString none = QStringLiteral("Žádný výstup se na vstupech neprojevil.");
    QTest::newRow("loopback plug") << 0 << QStringList{"DTR", "DTR", "RTS", "TxD"} << false
                                   << QStringList{"TxD → RI", "DTR → DCD, DSR", "RTS → CTS",
                                                  "Zapojení odpovídá zkušební zástrčce."}
                                   << 13 * 50;
    QTest::newRow("null-modem cable")
        << 4 << QStringList{"b.DTR", "b.DTR", "b.RTS", "0", "a.DTR", "a.DTR", "a.RTS", "0"} << false
        << QStringList{"COM3 TxD → nic",
                       "COM3 DTR → COM4 DCD, DSR",
                       "COM3 RTS → COM4 CTS",
                       "COM4 TxD → nic",
                       "COM4 DTR → COM3 DCD, DSR",
                       "COM4 RTS → COM3 CTS",
                       "COM3 RI: stále 0",
                       "COM4 RI: stále 0",
                       "Zapojení odpovídá kříženému kabelu (null-modem) s řídicími signály."}
        << 25 * 50;
    QTest::newRow("three-wire cable, over the network")
        << 4 << QStringList{"0", "0", "0", "0", "0", "0", "0", "0"} << true
        << QStringList{"COM3 TxD → nic",    "COM3 DTR → nic",    "COM3 RTS → nic",
                       "COM4 TxD → nic",    "COM4 DTR → nic",    "COM4 RTS → nic",
                       "COM3 DCD: stále 0", "COM3 DSR: stále 0", "COM3 CTS: stále 0",
                       "COM3 RI: stále 0",  "COM4 DCD: stále 0", "COM4 DSR: stále 0",
                       "COM4 CTS: stále 0", "COM4 RI: stále 0",  none}
        << 25 * 1500;
    QTest::newRow("adapter: CTS tied active, no DSR, DCD, RI")
        << 0 << QStringList{"0", "0", "1", "0"} << false
        << QStringList{"TxD → nic",    "DTR → nic",    "RTS → nic",   "DCD: stále 0",
                       "DSR: stále 0", "CTS: stále 1", "RI: stále 0", none}
        << 13 * 50;
    QTest::newRow("inverted line") << 0 << QStringList{"DTR", "~DTR", "RTS", "0"} << false
                                   << QStringList{"TxD → nic", "DTR → DCD, DSR (obráceně)",
                                                  "RTS → CTS", "RI: stále 0", "Jiné zapojení."}
                                   << 13 * 50;
    QTest::newRow("flickering line, and one that pulses between the reads")
        << 0 << QStringList{"flicker", "DTR", "RTS", "pulse"} << false
        << QStringList{"TxD → nic",    "DTR → DSR",   "RTS → CTS",
                       "DCD: nestálý", "RI: nestálý", "Zapojení odpovídá zkušební zástrčce."}
        << 13 * 50;
    // The second port's RI answers the first sample and the first round's
    // first four, then no more.
    QTest::newRow("port failing mid-test")
        << 4 << QStringList{"b.DTR", "b.DTR", "b.RTS", "0", "a.DTR", "a.DTR", "a.RTS", "fail@5"}
        << false << QStringList{"Test přerušen: port COM4 neodpovídá."} << 6 * 50;
}

void TestWiring::wirings()
{
    QFETCH(int, other);
    QFETCH(QStringList, sources);
    QFETCH(bool, late);
    QFETCH(QStringList, result);
    QFETCH(int, milliseconds);

    std::vector<int> ports{3};
    if (other != 0) ports.push_back(other);
    Played played(ports, sources, late);
    WiringTest test(played, played, 3, other);
    QStringList told;
    int results = 0;
    test.start([&](const QStringList &lines) {
        told = lines;
        ++results;
    });
    QVERIFY(test.running());
    QCOMPARE(played.run(), milliseconds);
    QCOMPARE(told, result);
    QCOMPARE(results, 1);
    QVERIFY(!test.running());
}

QTEST_GUILESS_MAIN(TestWiring)
#include "test_wiring.moc"
