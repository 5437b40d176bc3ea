// The C entries: one lock around one port table.
#include "rscom.h"

#include "core/diagnostics.h"
#include "core/naming.h"
#include "core/platform.h"
#include "core/porttable.h"

#include <mutex>

namespace
{

using rscom::Input;
using rscom::Output;
using rscom::Target;

std::unique_ptr<rscom::Device> openTarget(const Target &target)
{
    switch (target.kind) {
    case Target::Kind::Loopback:
        return rscom::openLoopback();
    case Target::Kind::Generator:
        return rscom::openGenerator();
    case Target::Kind::NullModem:
        return rscom::openNullModem(target.cableEnd);
    case Target::Kind::Device:
        return rscom::openDevice(target);
    case Target::Kind::Remote:
        return rscom::openRemote(target);
    case Target::Kind::None:
        break;
    }
    return nullptr;
}

std::mutex g_lock;

rscom::PortTable &table()
{
    static rscom::PortTable ports(rscom::resolveTarget, openTarget, rscom::inspect);
    return ports;
}

void setLine(const char *entry, Output line, int16_t level)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    const rscom::Entry named(entry);
    table().set(line, level);
}

int16_t readLine(const char *entry, Input line)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    const rscom::Entry named(entry);
    return table().read(line);
}

} // namespace

extern "C" {

RSCOM_API int16_t RSCOM_CALL OPENCOM(const char *settings)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    const rscom::Entry named("OPENCOM");
    return table().open(settings);
}

RSCOM_API void RSCOM_CALL TXD(int16_t level)
{
    setLine("TXD", Output::Txd, level);
}
RSCOM_API void RSCOM_CALL DTR(int16_t level)
{
    setLine("DTR", Output::Dtr, level);
}
RSCOM_API void RSCOM_CALL RTS(int16_t level)
{
    setLine("RTS", Output::Rts, level);
}

RSCOM_API int16_t RSCOM_CALL DCD(void)
{
    return readLine("DCD", Input::Dcd);
}
RSCOM_API int16_t RSCOM_CALL DSR(void)
{
    return readLine("DSR", Input::Dsr);
}
RSCOM_API int16_t RSCOM_CALL CTS(void)
{
    return readLine("CTS", Input::Cts);
}
RSCOM_API int16_t RSCOM_CALL RI(void)
{
    return readLine("RI", Input::Ri);
}

RSCOM_API void RSCOM_CALL CLOSECOM(void)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    const rscom::Entry named("CLOSECOM");
    table().closeCurrent();
}

RSCOM_API int16_t RSCOM_CALL COMSTATUS(int16_t port, char *detail, int16_t size)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    const rscom::Entry named("COMSTATUS");
    const rscom::PortStatus status = table().status(port);
    rscom::copyText(rscom::detailText(status.info), detail, size);
    return static_cast<int16_t>(status.code);
}

RSCOM_API int16_t RSCOM_CALL EDGES(rscom_edge *edges, int16_t max)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    return table().edges(edges, max);
}

} // extern "C"
