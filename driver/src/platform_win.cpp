// Windows: COMn is the port COMn, and opening a port already claims it.
#include "device.h"
#include "platform.h"

#include <string>

namespace rscom
{

Target resolveTarget(int port)
{
    return {Target::Kind::Device, "COM" + std::to_string(port)};
}

bool mayBeSerialLine(const std::string &)
{
    return true;
}

// Windows opens a port for one program only.
Reservation::Reservation(const std::string &) {}
Reservation::~Reservation() = default;

bool Reservation::held() const
{
    return true;
}

bool Reservation::claim(sp_port *)
{
    return true;
}

bool clearFlowControl(sp_port *)
{
    return true;
}

} // namespace rscom
