#include "wiring.h"

#include "ports.h"

#include <algorithm>

namespace
{

const std::array<const char *, WiringTest::kOutputCount> kOutputNames = {"TxD", "DTR", "RTS"};
const std::array<const char *, WiringTest::kInputCount> kInputNames = {"DCD", "DSR", "CTS", "RI"};

} // namespace

WiringTest::WiringTest(Driver &driver, Clock &clock, int port, int other)
    : m_driver(driver), m_clock(clock), m_ports{port}
{
    if (other != 0 && other != port) m_ports.push_back(other);
}

void WiringTest::start(std::function<void(const QStringList &)> done)
{
    m_done = std::move(done);
    const bool late = std::any_of(m_ports.begin(), m_ports.end(),
                                  [this](int port) { return m_driver.late(port); });
    m_wait = late ? kLateWait : kWait;
    m_running = true;
    ++m_run;
    m_step = 0;
    m_samples.clear();
    step();
}

void WiringTest::stop()
{
    m_running = false;
    ++m_run;
}

// Step 0 makes every output inactive; then, in each round, each output goes
// active and inactive again, a step each. After each step the test waits
// and reads.
void WiringTest::step()
{
    const std::size_t outputs = kOutputCount * m_ports.size();
    if (m_step == 0) {
        for (int port : m_ports) {
            if (!m_driver.select(port)) return fail(port);
            for (int o = 0; o < kOutputCount; ++o)
                m_driver.set(static_cast<Output>(o), 0);
        }
    } else {
        const std::size_t within = (m_step - 1) % (2 * outputs);
        drive(within / 2, within % 2 == 0 ? 1 : 0);
        if (!m_running) return;
    }
    const unsigned run = m_run;
    m_clock.after(m_wait, [this, run, outputs] {
        if (run != m_run || !sample()) return;
        if (++m_step > kRounds * 2 * outputs) return finish(judge());
        step();
    });
}

void WiringTest::drive(std::size_t output, int level)
{
    const int port = m_ports[output / kOutputCount];
    if (!m_driver.select(port)) return fail(port);
    m_driver.set(static_cast<Output>(output % kOutputCount), level);
}

// Reads every input of every tested port once, with their changes.
bool WiringTest::sample()
{
    Sample s;
    for (int port : m_ports) {
        std::array<int, kInputCount> level{}, changes{};
        if (!m_driver.select(port)) return fail(port), false;
        for (int i = 0; i < kInputCount; ++i) {
            const int read = m_driver.read(static_cast<Input>(i));
            if (read < 0) return fail(port), false;
            level[static_cast<std::size_t>(i)] = read > 0 ? 1 : 0;
        }
        switch (m_driver.changes(changes)) {
        case Driver::kGone:
            return fail(port), false;
        case Driver::kUntold:
            changes.fill(-1);
            break;
        case Driver::kCounted:
            break;
        }
        s.level.push_back(level);
        s.changes.push_back(changes);
    }
    m_samples.push_back(std::move(s));
    return true;
}

void WiringTest::fail(int port)
{
    finish({QStringLiteral("Test přerušen: port %1 neodpovídá.").arg(Port::name(port))});
}

void WiringTest::finish(const QStringList &result)
{
    stop();
    if (m_done) m_done(result);
}

// Whether input `input` (of all the ports' inputs) went to `whenActive`
// with output `output` and back when it went inactive, in every round.
bool WiringTest::follows(std::size_t input, std::size_t output, int whenActive) const
{
    const std::size_t outputs = kOutputCount * m_ports.size();
    const std::size_t port = input / kInputCount, line = input % kInputCount;
    for (std::size_t round = 0; round < kRounds; ++round) {
        const std::size_t active = 1 + round * 2 * outputs + 2 * output;
        if (m_samples[active].level[port][line] != whenActive ||
            m_samples[active + 1].level[port][line] != 1 - whenActive)
            return false;
    }
    return true;
}

QStringList WiringTest::judge() const
{
    const bool two = m_ports.size() > 1;
    const auto portName = [&](std::size_t index) {
        return two ? Port::name(m_ports[index]) + QLatin1Char(' ') : QString();
    };
    const std::size_t outputs = kOutputCount * m_ports.size();
    const std::size_t inputs = kInputCount * m_ports.size();

    // reach[o][i]: 1 follows, -1 follows inverted, 0 neither.
    std::vector<std::vector<int>> reach(outputs, std::vector<int>(inputs, 0));
    std::vector<bool> reached(inputs, false);
    bool any = false;
    QStringList result;
    for (std::size_t o = 0; o < outputs; ++o) {
        QStringList groups;
        std::size_t groupPort = m_ports.size();
        for (std::size_t i = 0; i < inputs; ++i) {
            reach[o][i] = follows(i, o, 1) ? 1 : follows(i, o, 0) ? -1 : 0;
            if (reach[o][i] == 0) continue;
            reached[i] = any = true;
            QString name = QLatin1String(kInputNames[i % kInputCount]);
            if (reach[o][i] < 0) name += QStringLiteral(" (obráceně)");
            if (i / kInputCount != groupPort) {
                groupPort = i / kInputCount;
                groups << portName(groupPort) + name;
            } else {
                groups.last() += QStringLiteral(", ") + name;
            }
        }
        result << portName(o / kOutputCount) + QLatin1String(kOutputNames[o % kOutputCount]) +
                      QStringLiteral(" → ") +
                      (groups.isEmpty() ? QStringLiteral("nic")
                                        : groups.join(QStringLiteral(", ")));
    }

    // Inputs that followed nothing: kept a level, or moved on their own. The
    // changes while the outputs were made inactive at the start do not count.
    for (std::size_t i = 0; i < inputs; ++i) {
        if (reached[i]) continue;
        const std::size_t port = i / kInputCount, line = i % kInputCount;
        const int first = m_samples.front().level[port][line];
        bool changed = false;
        for (std::size_t s = 1; s < m_samples.size(); ++s) {
            changed = changed || m_samples[s].level[port][line] != first ||
                      m_samples[s].changes[port][line] > 0;
        }
        result << portName(port) + QLatin1String(kInputNames[line]) +
                      (changed ? QStringLiteral(": nestálý")
                               : QStringLiteral(": stále %1").arg(first));
    }

    const auto reaches = [&](std::size_t fromPort, Output output, std::size_t toPort, Input input) {
        return reach[fromPort * kOutputCount + output][toPort * kInputCount + input] == 1;
    };
    if (!any) {
        result << QStringLiteral("Žádný výstup se na vstupech neprojevil.");
    } else if (!two && reaches(0, kRts, 0, kCts) && reaches(0, kDtr, 0, kDsr)) {
        result << QStringLiteral("Zapojení odpovídá zkušební zástrčce.");
    } else if (two && reaches(0, kRts, 1, kCts) && reaches(0, kDtr, 1, kDsr) &&
               reaches(1, kRts, 0, kCts) && reaches(1, kDtr, 0, kDsr)) {
        result << QStringLiteral(
            "Zapojení odpovídá kříženému kabelu (null-modem) s řídicími signály.");
    } else {
        result << QStringLiteral("Jiné zapojení.");
    }
    return result;
}
