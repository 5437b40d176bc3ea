// A port's record of its input-line changes, and the tracker that turns what
// a port tells (levels; counts where it keeps them) into changes: rows of
// samples and the edges they must give.
#include "core/edgerecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rscom;

namespace
{

// "DCD DSR CTS RI" levels as "1000", and the counters when the port has them.
LineSample sample(const char *levels, std::optional<std::array<uint32_t, 4>> counts = {})
{
    LineSample s;
    for (size_t i = 0; i < 4; ++i)
        s.levels[i] = levels[i] == '1';
    s.counts = counts;
    return s;
}

// An edge as "line:count:level@time".
std::string text(const rscom_edge &e)
{
    return std::to_string(e.line) + ":" + std::to_string(e.count) + ":" + std::to_string(e.level) +
           "@" + std::to_string(e.time);
}

std::vector<std::string> takeAll(EdgeRecord &record)
{
    std::vector<rscom_edge> edges(record.size() + 1);
    edges.resize(record.take(edges.data(), edges.size()));
    std::vector<std::string> texts;
    for (const rscom_edge &e : edges)
        texts.push_back(text(e));
    return texts;
}

using Counts = std::array<uint32_t, 4>;

struct Row {
    const char *name;
    LineSample first;
    std::vector<LineSample> samples; // the k-th at time k
    std::vector<std::string> edges;
};

TEST(EdgeTracker, SamplesBecomeEdges)
{
    const std::vector<Row> rows = {
        {"a port that counts: one change a line",
         sample("0000", Counts{5, 5, 5, 5}),
         {sample("1000", Counts{6, 5, 5, 5}), sample("1100", Counts{6, 6, 5, 5})},
         {"1:1:1@1", "2:1:1@2"}},
        {"a pulse within one wake: the count jumps, the level is back",
         sample("0000", Counts{0, 0, 0, 0}),
         {sample("0000", Counts{2, 0, 0, 0})},
         {"1:2:0@1"}},
        {"counted but read before the change: the level follows the count",
         sample("0000", Counts{0, 0, 0, 0}),
         {sample("0000", Counts{1, 0, 0, 0}), sample("0000", Counts{2, 0, 0, 0})},
         {"1:1:1@1", "1:2:0@1"}},
        {"a read sees a change first: the count that follows is that change",
         sample("0000", Counts{0, 0, 0, 0}),
         {sample("0010"), sample("0010", Counts{0, 0, 1, 0}), sample("0000", Counts{0, 0, 2, 0})},
         {"3:1:1@1", "3:2:0@3"}},
        {"RI on an 8250: only its falling edge is counted",
         sample("0000", Counts{0, 0, 0, 0}),
         {sample("0001", Counts{0, 0, 0, 0}), sample("0000", Counts{0, 0, 0, 1}),
          sample("0001", Counts{0, 0, 0, 1}), sample("0000", Counts{0, 0, 0, 2})},
         {"4:1:1@1", "4:2:0@2", "4:3:1@3", "4:4:0@4"}},
        {"a port that waits but cannot count: one change per changed line",
         sample("0000"),
         {sample("1100"), sample("1100"), sample("0100")},
         {"1:1:1@1", "2:1:1@1", "1:2:0@3"}},
        {"the kernel's counter wraps around",
         sample("0000", Counts{0xFFFFFFFFu, 0, 0, 0}),
         {sample("1000", Counts{0, 0, 0, 0})},
         {"1:1:1@1"}},
    };
    for (const Row &row : rows) {
        EdgeRecord record;
        EdgeTracker tracker(row.first);
        for (size_t k = 0; k < row.samples.size(); ++k)
            tracker.update(record, row.samples[k], static_cast<int64_t>(k + 1));
        EXPECT_EQ(takeAll(record), row.edges) << row.name;
    }
}

TEST(EdgeRecord, TakesOldestFirstAndKeepsCountingPastItsSize)
{
    EdgeRecord record(3);
    for (int64_t t = 1; t <= 5; ++t)
        record.add(Input::Cts, 1, t % 2 != 0, t);
    record.add(Input::Cts, 0, false, 6); // no change: nothing
    EXPECT_EQ(record.count(Input::Cts), 5);
    EXPECT_EQ(record.size(), 3u);

    rscom_edge edges[2];
    ASSERT_EQ(record.take(edges, 2), 2u);
    EXPECT_EQ(text(edges[0]), "3:3:1@3"); // the two oldest went
    EXPECT_EQ(text(edges[1]), "3:4:0@4");
    record.skip(Input::Dcd, 10);
    record.add(Input::Dcd, 1, true, 7);
    EXPECT_EQ(takeAll(record), (std::vector<std::string>{"3:5:1@5", "1:11:1@7"}));
    EXPECT_EQ(record.take(edges, 2), 0u);

    // The record a port gets holds at least 65536 changes.
    EdgeRecord full;
    for (int64_t t = 0; t < 70000; ++t)
        full.add(Input::Ri, 1, t % 2 == 0, t);
    EXPECT_EQ(full.size(), EdgeRecord::kCapacity);
    ASSERT_EQ(full.take(edges, 1), 1u);
    EXPECT_EQ(edges[0].count, 70000 - 65536 + 1);
}

} // namespace
