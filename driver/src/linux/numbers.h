// The COM numbers of the serial devices sysfs shows, remembered in the
// user's state folder so that every program of the user, now and later, sees
// the same ones.
#pragma once

#include "core/keptnumbers.h"

#include <map>
#include <set>
#include <vector>

namespace rscom
{

class DeviceNumbers
{
public:
    // Finds the devices and numbers them: the numbers the file remembers, new
    // numbers written to it at once. Without a file to read and write, the
    // numbers are remembered here, for as long as this object lives.
    std::map<int, FoundDevice> numbers();

    // The identity of the device that has `number` but is not there now, as
    // the last numbers() left it; empty when none has.
    std::string absentAt(int number) const;

private:
    KeptNumbers m_kept;
};

} // namespace rscom
