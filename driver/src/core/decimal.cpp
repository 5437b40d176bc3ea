#include "core/decimal.h"

#include <charconv>
#include <system_error>

namespace rscom
{

std::optional<std::int64_t> decimal(std::string_view text, std::int64_t max)
{
    if (text.empty() || max < 0) return std::nullopt;
    // Unsigned, so that a sign is refused like any other character.
    std::uint64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value > static_cast<std::uint64_t>(max))
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

} // namespace rscom
