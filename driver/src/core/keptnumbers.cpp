#include "core/keptnumbers.h"

namespace rscom
{

std::map<int, FoundDevice> KeptNumbers::number(NumbersFile &file,
                                               const std::vector<FoundDevice> &found,
                                               const std::set<int> &reserved, std::int64_t now)
{
    Numbering numbering;
    if (numberFrom(file, found, reserved, now, numbering) && file.lock() &&
        numberFrom(file, found, reserved, now, numbering))
        file.write(memoryText(m_memory));
    return numbering.ports;
}

std::string KeptNumbers::absentAt(int number) const
{
    for (const Remembered &r : m_memory) {
        if (r.number == number) return r.identity;
    }
    return {};
}

// Numbers the devices from the file's memory, or from this keeper's own when
// there is no file; true when the file is to be written.
bool KeptNumbers::numberFrom(NumbersFile &file, const std::vector<FoundDevice> &found,
                             const std::set<int> &reserved, std::int64_t now, Numbering &numbering)
{
    std::string text;
    bool damaged = false;
    const bool read = file.read(text);
    if (read) m_memory = readMemory(text, damaged);
    numbering = assignNumbers(found, m_memory, reserved, now);
    return numbering.memoryChanged || damaged || (!read && !m_memory.empty());
}

} // namespace rscom
