// What the driver's tests share: setting its environment on every platform,
// and reading the lines of the current port through the C entries.
#pragma once

#include "rscom.h"

#include <cstdlib>
#include <ostream>
#include <string>

inline void setVariable(const std::string &name, const std::string &value)
{
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void unsetVariable(const std::string &name)
{
#if defined(_WIN32)
    _putenv_s(name.c_str(), "");
#else
    unsetenv(name.c_str());
#endif
}

// RSCOM_COMn := target ("loopback", "none", a device).
inline void mapPort(int port, const std::string &target)
{
    setVariable("RSCOM_COM" + std::to_string(port), target);
}

inline std::string settingsOf(int port)
{
    return "COM" + std::to_string(port) + ",1200,N,8,1";
}

// COM1 to COM5 lead nowhere, unless a test maps them.
inline void mapNoPorts()
{
    for (int n = 1; n <= 5; ++n)
        mapPort(n, "none");
}

// Closes whatever a test left open on COM1 to COM5: the driver keeps its
// ports for the whole process.
inline void closePorts()
{
    for (int n = 1; n <= 5; ++n) {
        mapPort(n, "loopback");
        if (OPENCOM(settingsOf(n).c_str()) != 0) CLOSECOM();
    }
}

struct Lines {
    int dcd, dsr, cts, ri;
    bool operator==(const Lines &o) const
    {
        return dcd == o.dcd && dsr == o.dsr && cts == o.cts && ri == o.ri;
    }
};

inline void PrintTo(const Lines &l, std::ostream *os)
{
    *os << "DCD " << l.dcd << " DSR " << l.dsr << " CTS " << l.cts << " RI " << l.ri;
}

inline Lines lines()
{
    return {DCD(), DSR(), CTS(), RI()};
}

// What COMSTATUS says of a port: its result and its detail text.
struct Answer {
    int code;
    std::string detail;
};

inline Answer comStatus(int port)
{
    char detail[512] = "untouched";
    const int code = COMSTATUS(static_cast<int16_t>(port), detail, sizeof detail);
    return {code, detail};
}
