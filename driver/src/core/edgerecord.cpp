#include "core/edgerecord.h"

#include <algorithm>
#include <limits>

namespace rscom
{

namespace
{

size_t indexOf(Input line)
{
    return static_cast<size_t>(line);
}

int32_t clampCount(int64_t count)
{
    return static_cast<int32_t>(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
}

} // namespace

void EdgeRecord::add(Input line, int64_t changes, bool level, int64_t time)
{
    if (changes <= 0) return;
    const std::lock_guard<std::mutex> guard(m_lock);
    int64_t &count = m_counts[indexOf(line)];
    count += changes;
    if (m_capacity == 0) return;
    if (m_edges.size() == m_capacity) m_edges.pop_front();
    m_edges.push_back({time, clampCount(count), static_cast<int16_t>(indexOf(line) + 1),
                       static_cast<int16_t>(level ? 1 : 0)});
}

void EdgeRecord::skip(Input line, int64_t changes)
{
    if (changes <= 0) return;
    const std::lock_guard<std::mutex> guard(m_lock);
    m_counts[indexOf(line)] += changes;
}

size_t EdgeRecord::take(rscom_edge *out, size_t max)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    const size_t n = std::min(max, m_edges.size());
    std::copy_n(m_edges.begin(), n, out);
    m_edges.erase(m_edges.begin(), m_edges.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

int64_t EdgeRecord::count(Input line) const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_counts[indexOf(line)];
}

size_t EdgeRecord::size() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_edges.size();
}

void EdgeTracker::update(EdgeRecord &record, const LineSample &sample, int64_t time)
{
    for (Input line : kInputs) {
        const size_t i = indexOf(line);
        bool &last = m_last.levels[i];
        int64_t changes = 0;
        if (m_counting && sample.counts) {
            // Unsigned: a counter that wrapped around still gives the changes.
            changes = static_cast<uint32_t>((*sample.counts)[i] - (*m_last.counts)[i]);
            if (changes > 0 && m_uncounted[i]) {
                --changes;
                m_uncounted[i] = false;
            }
        }
        if (changes > 0) {
            // The level after an odd number of changes is the other one,
            // whatever a read just after them saw.
            const bool after = (changes % 2 != 0) != last;
            record.add(line, changes, after, time);
            last = after;
        }
        if (sample.levels[i] != last) {
            record.add(line, 1, sample.levels[i], time);
            last = sample.levels[i];
            m_uncounted[i] = m_counting;
        }
    }
    if (sample.counts) m_last.counts = sample.counts;
}

} // namespace rscom
