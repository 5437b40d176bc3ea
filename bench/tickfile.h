// The tick file: a count, a capacity, then that many steady-clock times in
// nanoseconds, of which the first count are set. Written by the benchmark's
// driver and by the floor, read by tickstats.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TickFile
{

struct Header {
    std::uint64_t count;
    std::uint64_t capacity;
};

// Over an hour of ticks at 1 ms.
constexpr std::uint64_t kCapacity = 1u << 22;

constexpr std::size_t bytes(std::uint64_t capacity)
{
    return sizeof(Header) + capacity * sizeof(std::int64_t);
}

inline std::int64_t *times(Header *header)
{
    return reinterpret_cast<std::int64_t *>(header + 1);
}

inline const std::int64_t *times(const Header *header)
{
    return reinterpret_cast<const std::int64_t *>(header + 1);
}

} // namespace TickFile
