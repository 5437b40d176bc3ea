// The COM numbers of a user's serial devices, kept in a file that every
// program of the user reads, so that all of them, now and later, see the same
// numbers. Where the file is and how it is locked is each system's matter.
#pragma once

#include "core/comnumbers.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace rscom
{

// The numbers' file. Read freely: it is only ever replaced whole. Written
// under a lock of its own, after reading it again, so that two programs
// numbering at once agree.
class NumbersFile
{
public:
    virtual ~NumbersFile() = default;
    // False when there is no file to read: missing, or not readable.
    virtual bool read(std::string &text) = 0;
    // Makes the folder and takes the lock; false when neither can be had.
    virtual bool lock() = 0;
    // Written whole and put in place of the old one.
    virtual void write(const std::string &text) = 0;
};

class KeptNumbers
{
public:
    // Numbers the devices found now: the numbers the file remembers, new
    // numbers written to it at once. Without a file to read and write, the
    // numbers are remembered here, for as long as this object lives.
    std::map<int, FoundDevice> number(NumbersFile &file, const std::vector<FoundDevice> &found,
                                      const std::set<int> &reserved, std::int64_t now);

    // The identity of the device that has `number` but is not there now, as
    // the last number() left it; empty when none has.
    std::string absentAt(int number) const;

private:
    bool numberFrom(NumbersFile &file, const std::vector<FoundDevice> &found,
                    const std::set<int> &reserved, std::int64_t now, Numbering &numbering);

    std::vector<Remembered> m_memory;
};

} // namespace rscom
