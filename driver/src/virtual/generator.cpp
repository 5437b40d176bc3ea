// Virtual port "generator": inputs that follow a fixed pattern from the
// moment the port is opened, so that a user sees lines move with no
// hardware. Its outputs change nothing. Every edge is computed from the
// clock, at its exact time: no thread, nothing that wakes.
//
//   DCD active, dropping for 2 ms every second, at 0.5 s, 1.5 s, 2.5 s, ...
//   DSR active
//   CTS a 5 Hz square wave: active for 100 ms, inactive for 100 ms, ...
//   RI  active for 2 s, inactive for 4 s, ...
#include "core/device.h"

#include <algorithm>
#include <vector>

namespace rscom
{

namespace
{

// One line's pattern: a period, and the changes within it (after its start,
// up to and including its end), each with the level it leads to.
struct Pattern {
    int64_t period; // microseconds
    std::vector<std::pair<int64_t, bool>> changes;
    bool first; // the level from the opening to the first change

    // How many changes there were from the opening up to `t`.
    int64_t countAt(int64_t t) const
    {
        if (changes.empty() || t <= 0) return 0;
        const int64_t whole = t / period;
        const int64_t rest = t % period;
        int64_t n = whole * static_cast<int64_t>(changes.size());
        for (const auto &change : changes) {
            if (change.first <= rest) ++n;
        }
        return n;
    }

    // When change k (from 1 on) comes, and the level after it.
    std::pair<int64_t, bool> change(int64_t k) const
    {
        const auto size = static_cast<int64_t>(changes.size());
        const auto &[offset, level] = changes[static_cast<size_t>((k - 1) % size)];
        return {(k - 1) / size * period + offset, level};
    }

    bool levelAt(int64_t t) const
    {
        const int64_t n = countAt(t);
        return n == 0 ? first : change(n).second;
    }
};

const std::array<Pattern, 4> &patterns()
{
    static const std::array<Pattern, 4> all{{
        {1000000, {{500000, false}, {502000, true}}, true},   // DCD
        {1, {}, true},                                        // DSR
        {200000, {{100000, false}, {200000, true}}, true},    // CTS
        {6000000, {{2000000, false}, {6000000, true}}, true}, // RI
    }};
    return all;
}

class Generator final : public Device
{
public:
    bool configure(const Settings &) override { return true; }
    bool setOutput(Output, bool) override { return true; }

    int readInput(Input line) override
    {
        return patterns()[static_cast<size_t>(line)].levelAt(edgeClock() - m_start) ? 1 : 0;
    }

    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override
    {
        m_record = record;
        m_told = edgeClock() - m_start;
    }

    EdgeState updateEdges() override
    {
        if (!m_record) return EdgeState::Told;
        const int64_t now = edgeClock() - m_start;
        // A record keeps only so many changes: of a long stretch the older
        // ones are only counted, and never computed one by one.
        const int64_t fullFrom = std::max(m_told, now - kKeptStretch);
        std::vector<std::pair<int64_t, Input>> due;
        for (Input line : kInputs) {
            const Pattern &p = patterns()[static_cast<size_t>(line)];
            m_record->skip(line, p.countAt(fullFrom) - p.countAt(m_told));
            for (int64_t k = p.countAt(fullFrom) + 1; k <= p.countAt(now); ++k)
                due.emplace_back(p.change(k).first, line);
        }
        std::sort(due.begin(), due.end());
        for (const auto &[t, line] : due) {
            const Pattern &p = patterns()[static_cast<size_t>(line)];
            m_record->add(line, 1, p.levelAt(t), m_start + t);
        }
        m_told = now;
        return EdgeState::Told;
    }

private:
    // Longer than a record holds: DCD, CTS and RI change 12 to 13 times a
    // second together, a record keeps 65536 changes.
    static constexpr int64_t kKeptStretch = 2LL * 3600 * 1000000;

    int64_t m_start = edgeClock();
    int64_t m_told = 0; // microseconds after the start up to which the record has it all
    std::shared_ptr<EdgeRecord> m_record;
};

} // namespace

std::unique_ptr<Device> openGenerator()
{
    return std::make_unique<Generator>();
}

} // namespace rscom
