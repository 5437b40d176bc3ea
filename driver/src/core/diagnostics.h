// Why an entry refused or failed, told when asked: with RSCOM_DEBUG=1 in the
// environment the driver writes one line to standard error for each refusal
// and failure, where it is decided, naming the entry, the port, the device and
// the reason in words:
//   rscom: OPENCOM COM3 /dev/ttyUSB0: in use by minicom (PID 4242)
// Without the variable (or with RSCOM_DEBUG=0) nothing is written.
#pragma once

#include "core/portstatus.h"

#include <string>

namespace rscom
{

// While one lives, the lines written by this thread are about this entry
// ("OPENCOM"); the C entries make one each.
class Entry
{
public:
    explicit Entry(const char *name);
    ~Entry();
    Entry(const Entry &) = delete;
    Entry &operator=(const Entry &) = delete;

private:
    const char *m_previous;
};

// While one lives, the lines are about port `number` and its device at
// `device` (empty when it has none); the one before is restored after.
class About
{
public:
    About(int number, std::string device);
    ~About();
    About(const About &) = delete;
    About &operator=(const About &) = delete;

private:
    int m_number;
    std::string m_device;
};

// While one lives nothing is written: the quiet retries of a port whose
// device is gone, whose going was told once.
class Quiet
{
public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;
};

// Whether RSCOM_DEBUG asks for the lines.
bool debugging();

// Writes the line for `reason` about the current entry, port and device.
void explain(const std::string &reason);

// A refusal in words: "in use by minicom (PID 4242)", "a system console", "no
// permission to read and write it (group dialout)", "not a serial line with
// modem-control lines", "no such device", each followed by `system`, the
// system's words, when a system call decided it ("Permission denied").
std::string reasonOf(const PortStatus &status, const std::string &system = {});

} // namespace rscom
