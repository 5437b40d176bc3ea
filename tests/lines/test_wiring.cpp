// The wiring test's judgement: wirings played to it, a row each, on a clock
// that only counts.
#include "wiring.h"

#include <QTest>

#include <utility>

namespace
{

// Ports COM3, and COM4 when there are eight sources. Each input says where
// it comes from: "0", "1", an output of COM3 or COM4 ("a.DTR", "b.RTS"),
// inverted with "~"; "flicker" moves by itself, "pulse" reads 1 and pulses
// between the reads; "fail@n" stops answering after n reads.
class Played final : public WiringTest::Driver, public WiringTest::Clock
{
public:
    Played(QStringList sources, bool late) : m_sources(std::move(sources)), m_late(late) {}

    bool select(int port) override
    {
        m_port = static_cast<std::size_t>(port - 3);
        return m_port < static_cast<std::size_t>(m_sources.size() / 4);
    }
    void set(WiringTest::Output output, int level) override { m_out[m_port][output] = level; }
    int read(WiringTest::Input input) override
    {
        const std::size_t i = m_port * 4 + input;
        QString source = m_sources[static_cast<qsizetype>(i)];
        if (source.startsWith(QLatin1String("fail@")))
            return ++m_reads[i] > source.mid(5).toInt() ? -1 : 0;
        if (source == QLatin1String("flicker"))
            return (m_seed = m_seed * 1103515245 + 12345) >> 30 & 1;
        const bool inverted = source.startsWith(QLatin1Char('~'));
        const int output =
            static_cast<int>(QStringList{"TxD", "DTR", "RTS"}.indexOf(source.section('.', 1)));
        if (output < 0) return source == QLatin1String("0") ? 0 : 1;
        return m_out[source.contains(QLatin1String("b.")) ? 1 : 0][output] ^ (inverted ? 1 : 0);
    }
    Told changes(std::array<int, 4> &counted) override
    {
        for (std::size_t line = 0; line < 4; ++line)
            counted[line] = m_sources[static_cast<qsizetype>(m_port * 4 + line)] == "pulse" ? 2 : 0;
        return kCounted;
    }
    bool late(int) override { return m_late; }

    void after(int milliseconds, std::function<void()> then) override
    {
        m_wait = milliseconds;
        m_next = std::move(then);
    }
    // Runs the steps as they come; how long they waited.
    int run()
    {
        int waited = 0;
        for (std::function<void()> next; (next = std::exchange(m_next, {}));) {
            waited += m_wait;
            next();
        }
        return waited;
    }

private:
    QStringList m_sources;
    bool m_late;
    std::size_t m_port = 0;
    std::array<std::array<int, 3>, 2> m_out{};
    std::array<int, 8> m_reads{};
    unsigned m_seed = 7;
    int m_wait = 0;
    std::function<void()> m_next;
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
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<bool>("late");
    QTest::addColumn<QStringList>("result");
    QTest::addColumn<int>("milliseconds");

    const QString none = QStringLiteral("Žádný výstup se na vstupech neprojevil.");
    QTest::newRow("loopback plug") << QStringList{"a.DTR", "a.DTR", "a.RTS", "a.TxD"} << false
                                   << QStringList{"TxD → RI", "DTR → DCD, DSR", "RTS → CTS",
                                                  "Zapojení odpovídá zkušební zástrčce."}
                                   << 13 * 50;
    QTest::newRow("null-modem cable")
        << QStringList{"b.DTR", "b.DTR", "b.RTS", "0", "a.DTR", "a.DTR", "a.RTS", "0"} << false
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
        << QStringList{"0", "0", "0", "0", "0", "0", "0", "0"} << true
        << QStringList{"COM3 TxD → nic",    "COM3 DTR → nic",    "COM3 RTS → nic",
                       "COM4 TxD → nic",    "COM4 DTR → nic",    "COM4 RTS → nic",
                       "COM3 DCD: stále 0", "COM3 DSR: stále 0", "COM3 CTS: stále 0",
                       "COM3 RI: stále 0",  "COM4 DCD: stále 0", "COM4 DSR: stále 0",
                       "COM4 CTS: stále 0", "COM4 RI: stále 0",  none}
        << 25 * 1500;
    QTest::newRow("adapter: CTS tied active, no DSR, DCD, RI")
        << QStringList{"0", "0", "1", "0"} << false
        << QStringList{"TxD → nic",    "DTR → nic",    "RTS → nic",   "DCD: stále 0",
                       "DSR: stále 0", "CTS: stále 1", "RI: stále 0", none}
        << 13 * 50;
    QTest::newRow("inverted line") << QStringList{"a.DTR", "~a.DTR", "a.RTS", "0"} << false
                                   << QStringList{"TxD → nic", "DTR → DCD, DSR (obráceně)",
                                                  "RTS → CTS", "RI: stále 0", "Jiné zapojení."}
                                   << 13 * 50;
    QTest::newRow("flickering line, and one that pulses between the reads")
        << QStringList{"flicker", "a.DTR", "a.RTS", "pulse"} << false
        << QStringList{"TxD → nic",    "DTR → DSR",   "RTS → CTS",
                       "DCD: nestálý", "RI: nestálý", "Zapojení odpovídá zkušební zástrčce."}
        << 13 * 50;
    // The second port's RI answers the first sample and the first round's
    // first four, then no more.
    QTest::newRow("port failing mid-test")
        << QStringList{"b.DTR", "b.DTR", "b.RTS", "0", "a.DTR", "a.DTR", "a.RTS", "fail@5"} << false
        << QStringList{"Test přerušen: port COM4 neodpovídá."} << 6 * 50;
}

void TestWiring::wirings()
{
    QFETCH(QStringList, sources);
    QFETCH(bool, late);
    QFETCH(QStringList, result);
    QFETCH(int, milliseconds);

    Played played(sources, late);
    WiringTest test(played, played, 3, sources.size() > 4 ? 4 : 0);
    QStringList told;
    test.start([&](const QStringList &lines) { told << lines; });
    QCOMPARE(played.run(), milliseconds);
    QCOMPARE(told, result);
    QVERIFY(!test.running());
}

QTEST_GUILESS_MAIN(TestWiring)
#include "test_wiring.moc"
