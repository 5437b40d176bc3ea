#include "core/settings.h"

#include "core/decimal.h"

#include <climits>
#include <cstring>

namespace rscom
{

namespace
{

// Reads a decimal number without sign or leading zero, up to `max`, and
// advances `p` past it.
bool readNumber(const char *&p, long max, long &value)
{
    const char *end = p;
    while (*end >= '0' && *end <= '9')
        ++end;
    if (*p == '0') return false;
    const std::optional<std::int64_t> number =
        decimal(std::string_view(p, static_cast<size_t>(end - p)), max);
    if (!number) return false;
    value = static_cast<long>(*number);
    p = end;
    return true;
}

bool readComma(const char *&p)
{
    if (*p != ',') return false;
    ++p;
    return true;
}

std::optional<Parity> parityOf(char c)
{
    switch (c) {
    case 'N':
        return Parity::None;
    case 'E':
        return Parity::Even;
    case 'O':
        return Parity::Odd;
    case 'M':
        return Parity::Mark;
    case 'S':
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<Settings> parseSettings(const char *text)
{
    if (text == nullptr) return std::nullopt;
    int length = 0;
    while (length <= kMaxSettingsLength && text[length] != '\0')
        ++length;
    if (length > kMaxSettingsLength) return std::nullopt;
    if (std::strncmp(text, "COM", 3) != 0) return std::nullopt;

    const char *p = text + 3;
    long port = 0, baud = 0, dataBits = 0, stopBits = 0;
    if (!readNumber(p, 255, port) || !readComma(p)) return std::nullopt;
    if (!readNumber(p, INT_MAX, baud) || !readComma(p)) return std::nullopt;
    const std::optional<Parity> parity = parityOf(*p);
    if (!parity) return std::nullopt;
    ++p;
    if (!readComma(p) || !readNumber(p, 8, dataBits) || dataBits < 5) return std::nullopt;
    if (!readComma(p) || !readNumber(p, 2, stopBits)) return std::nullopt;
    if (*p != '\0') return std::nullopt;

    Settings s;
    s.port = static_cast<int>(port);
    s.baud = static_cast<int>(baud);
    s.parity = *parity;
    s.dataBits = static_cast<int>(dataBits);
    s.stopBits = static_cast<int>(stopBits);
    return s;
}

} // namespace rscom
