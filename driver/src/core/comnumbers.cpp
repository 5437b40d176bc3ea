#include "core/comnumbers.h"

#include "core/decimal.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace rscom
{

namespace
{

std::vector<Remembered>::iterator findIdentity(std::vector<Remembered> &memory,
                                               const std::string &identity)
{
    return std::find_if(memory.begin(), memory.end(),
                        [&](const Remembered &r) { return r.identity == identity; });
}

bool remembered(const std::vector<Remembered> &memory, int number)
{
    return std::any_of(memory.begin(), memory.end(),
                       [&](const Remembered &r) { return r.number == number; });
}

class Assignment
{
public:
    Assignment(std::vector<Remembered> &memory, const std::set<int> &reserved, std::int64_t now)
        : m_memory(memory), m_reserved(reserved), m_now(now)
    {
    }

    void builtin(const FoundDevice &device)
    {
        if (device.builtin < 1 || device.builtin > kHighestNumber) return;
        if (m_reserved.count(device.builtin) != 0 || taken(device.builtin)) return;
        m_result.ports[device.builtin] = device;
    }

    // A device keeps its number unless a built-in UART or a variable has
    // taken it meanwhile.
    bool known(const FoundDevice &device)
    {
        auto entry = findIdentity(m_memory, device.identity);
        if (entry == m_memory.end()) return false;
        if (m_reserved.count(entry->number) != 0 || taken(entry->number)) {
            m_memory.erase(entry);
            m_result.memoryChanged = true;
            return false;
        }
        m_result.ports[entry->number] = device;
        if (m_now - entry->lastSeen >= kSightingPeriod || m_now < entry->lastSeen) {
            entry->lastSeen = m_now;
            m_result.memoryChanged = true;
        }
        return true;
    }

    void fresh(const FoundDevice &device)
    {
        int number = lowestFree(1, kOfferedNumbers);
        if (number == 0) number = takeOverOldest();
        if (number == 0) number = lowestFree(kOfferedNumbers + 1, kHighestNumber);
        if (number == 0) return; // every number is in use
        m_result.ports[number] = device;
        m_memory.push_back({number, m_now, device.identity});
        m_result.memoryChanged = true;
    }

    Numbering result() const { return m_result; }

private:
    bool taken(int number) const { return m_result.ports.count(number) != 0; }

    bool free(int number) const
    {
        return !taken(number) && m_reserved.count(number) == 0 && !remembered(m_memory, number);
    }

    int lowestFree(int from, int to) const
    {
        for (int number = from; number <= to; ++number) {
            if (free(number)) return number;
        }
        return 0;
    }

    // The number among COM1 to COM5 of the absent device seen longest ago.
    int takeOverOldest()
    {
        auto oldest = m_memory.end();
        for (auto r = m_memory.begin(); r != m_memory.end(); ++r) {
            if (r->number > kOfferedNumbers || taken(r->number) || m_reserved.count(r->number))
                continue;
            if (oldest == m_memory.end() || r->lastSeen < oldest->lastSeen) oldest = r;
        }
        if (oldest == m_memory.end()) return 0;
        const int number = oldest->number;
        m_memory.erase(oldest);
        return number;
    }

    std::vector<Remembered> &m_memory;
    const std::set<int> &m_reserved;
    std::int64_t m_now;
    Numbering m_result;
};

// The name's text and its number: "ttyUSB" and 10.
std::pair<std::string, long> split(const std::string &name)
{
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    const std::string number = name.substr(digits);
    if (number.empty() || number.size() > 9) return {name, -1};
    return {name.substr(0, digits), std::stol(number)};
}

} // namespace

Numbering assignNumbers(const std::vector<FoundDevice> &found, std::vector<Remembered> &memory,
                        const std::set<int> &reserved, std::int64_t now)
{
    std::vector<const FoundDevice *> others;
    for (const FoundDevice &device : found) {
        if (device.builtin == 0) others.push_back(&device);
    }
    std::sort(others.begin(), others.end(), [](const FoundDevice *a, const FoundDevice *b) {
        return namedBefore(a->name, b->name);
    });

    Assignment assignment(memory, reserved, now);
    for (const FoundDevice &device : found)
        assignment.builtin(device);
    std::vector<const FoundDevice *> fresh;
    for (const FoundDevice *device : others) {
        if (!assignment.known(*device)) fresh.push_back(device);
    }
    for (const FoundDevice *device : fresh)
        assignment.fresh(*device);
    return assignment.result();
}

std::vector<Remembered> readMemory(const std::string &text, bool &damaged)
{
    damaged = false;
    std::vector<Remembered> memory;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t first = line.find('\t');
        const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        const std::optional<std::int64_t> number =
            second != std::string::npos ? decimal(line.substr(0, first), kHighestNumber)
                                        : std::nullopt;
        const std::optional<std::int64_t> seen =
            number ? decimal(line.substr(first + 1, second - first - 1)) : std::nullopt;
        const bool ok = seen && *number >= 1 && second + 1 < line.size();
        Remembered entry{ok ? static_cast<int>(*number) : 0, ok ? *seen : 0,
                         ok ? line.substr(second + 1) : ""};
        if (!ok || remembered(memory, entry.number) ||
            findIdentity(memory, entry.identity) != memory.end()) {
            damaged = true;
            continue;
        }
        memory.push_back(entry);
    }
    if (!text.empty() && text.back() != '\n') damaged = true;
    return memory;
}

std::string memoryText(const std::vector<Remembered> &memory)
{
    std::vector<Remembered> sorted = memory;
    std::sort(sorted.begin(), sorted.end(),
              [](const Remembered &a, const Remembered &b) { return a.number < b.number; });
    std::string text = "# COM numbers of serial devices, kept by the rscom port driver.\n"
                       "# number\tlast seen (seconds since 1970)\tidentity\n";
    for (const Remembered &r : sorted) {
        text +=
            std::to_string(r.number) + '\t' + std::to_string(r.lastSeen) + '\t' + r.identity + '\n';
    }
    return text;
}

bool namedBefore(const std::string &a, const std::string &b)
{
    const auto [textA, numberA] = split(a);
    const auto [textB, numberB] = split(b);
    if (textA != textB) return textA < textB;
    if (numberA != numberB) return numberA < numberB;
    return a < b;
}

} // namespace rscom
