#include "core/portstatus.h"

#include <cstring>

namespace rscom
{

namespace
{

// Length of the UTF-8 sequence starting at s[i], or 0 when there is none.
size_t sequenceLength(const std::string &s, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    unsigned minimum = 0;
    unsigned code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, code = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

void appendClean(std::string &out, const std::string &value)
{
    for (size_t i = 0; i < value.size();) {
        const size_t length = sequenceLength(value, i);
        if (length == 0) {
            out += '?';
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(value[i]);
        const bool control = length == 1 && (c < 0x20 || c == 0x7F);
        // C1 controls, U+0080 to U+009F, are two bytes: C2 80 to C2 9F.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(value[i + 1]) < 0xA0;
        if (control || c1)
            out += ' ';
        else
            out.append(value, i, length);
        i += length;
    }
}

} // namespace

std::string detailText(const PortInfo &info)
{
    std::string text;
    const std::string *fields[] = {&info.path,  &info.product, &info.maker, &info.serial,
                                   &info.group, &info.program, &info.pid};
    for (const std::string *field : fields) {
        if (field != fields[0]) text += '\t';
        appendClean(text, *field);
    }
    return text;
}

void copyText(const std::string &text, char *out, std::int16_t size)
{
    if (out == nullptr || size < 1) return;
    const size_t room = static_cast<size_t>(size) - 1;
    size_t end = 0;
    while (end < text.size()) {
        size_t length = sequenceLength(text, end);
        if (length == 0) length = 1; // not UTF-8: taken as one byte
        if (end + length > room) break;
        end += length;
    }
    std::memcpy(out, text.data(), end);
    out[end] = '\0';
}

std::string oneLine(std::string value)
{
    for (char &c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

} // namespace rscom
