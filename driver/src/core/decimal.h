// Whole numbers written in decimal, as settings strings, sysfs names, /proc
// and the numbers' file hold them.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace rscom
{

// The number `text` writes in decimal digits alone (no sign, no space,
// nothing else), when it is at most `max`; nothing otherwise, however long
// the digits run.
std::optional<std::int64_t> decimal(std::string_view text,
                                    std::int64_t max = std::numeric_limits<std::int64_t>::max());

} // namespace rscom
