#include "modul1.h"

#include "library.h"

#include <rscom.h>

#include <QByteArray>

#include <array>
#include <utility>

namespace Modul1
{

namespace
{

FailureHandler &failureHandler()
{
    static FailureHandler handler;
    return handler;
}

void reportFailure(const QString &library, const QString &reason)
{
    if (failureHandler()) failureHandler()(library, reason);
}

Driver &driver()
{
    // Never unloaded: the driver's ports stay open until the process ends.
    static Driver *loaded = new Driver(libraryName());
    return *loaded;
}

enum Entry { kOpencom, kTxd, kDtr, kRts, kDcd, kDsr, kCts, kRi, kComstatus, kEdges, kEntryCount };

// Room for COMSTATUS's detail: a path and three USB strings of at most 126
// characters each, and the rest.
constexpr std::int16_t kDetailSize = 2048;

static_assert(kEdgesNoPort == RSCOM_EDGES_NO_PORT && kEdgesUntold == RSCOM_EDGES_UNTOLD);
static_assert(kLineDcd == RSCOM_LINE_DCD && kLineDsr == RSCOM_LINE_DSR &&
              kLineCts == RSCOM_LINE_CTS && kLineRi == RSCOM_LINE_RI);

} // namespace

struct Driver::Entries {
    std::array<void *, kEntryCount> address{};
    std::array<bool, kEntryCount> failed{};
};

void setFailureHandler(FailureHandler handler)
{
    failureHandler() = std::move(handler);
}

Driver::Driver(QString library) : m_library(std::move(library)), m_entries(new Entries) {}

Driver::~Driver() = default;

// Resolves entry `index` on its first call and keeps it; nullptr after a
// failure, which was reported once unless the entry may be missing.
template <typename Fn> Fn Driver::entry(int index, const char *name, Missing missing)
{
    void *&address = m_entries->address[index];
    if (address != nullptr) return reinterpret_cast<Fn>(address);
    if (m_failed || m_entries->failed[index]) return nullptr;

    QString reason;
    if (m_handle == nullptr) {
        m_handle = detail::openLibrary(m_library, reason);
        if (m_handle == nullptr) {
            m_failed = true;
            reportFailure(m_library, reason);
            return nullptr;
        }
    }
    address = detail::findEntry(m_handle, name, reason);
    if (address == nullptr) {
        m_entries->failed[index] = true;
        if (missing == Missing::Reported) reportFailure(m_library, reason);
        return nullptr;
    }
    return reinterpret_cast<Fn>(address);
}

std::int16_t Driver::OPENCOM(const QString &settings)
{
    auto fn = entry<decltype(&::OPENCOM)>(kOpencom, "OPENCOM");
    return fn != nullptr ? fn(settings.toLocal8Bit().constData()) : RSCOM_NOT_OPENED;
}

void Driver::TXD(std::int16_t level)
{
    if (auto fn = entry<decltype(&::TXD)>(kTxd, "TXD")) fn(level);
}

void Driver::DTR(std::int16_t level)
{
    if (auto fn = entry<decltype(&::DTR)>(kDtr, "DTR")) fn(level);
}

void Driver::RTS(std::int16_t level)
{
    if (auto fn = entry<decltype(&::RTS)>(kRts, "RTS")) fn(level);
}

std::int16_t Driver::DCD()
{
    auto fn = entry<decltype(&::DCD)>(kDcd, "DCD");
    return fn != nullptr ? fn() : RSCOM_UNREADABLE;
}

std::int16_t Driver::DSR()
{
    auto fn = entry<decltype(&::DSR)>(kDsr, "DSR");
    return fn != nullptr ? fn() : RSCOM_UNREADABLE;
}

std::int16_t Driver::CTS()
{
    auto fn = entry<decltype(&::CTS)>(kCts, "CTS");
    return fn != nullptr ? fn() : RSCOM_UNREADABLE;
}

std::int16_t Driver::RI()
{
    auto fn = entry<decltype(&::RI)>(kRi, "RI");
    return fn != nullptr ? fn() : RSCOM_UNREADABLE;
}

std::optional<std::int16_t> Driver::COMSTATUS(std::int16_t port, QString &detail)
{
    auto fn = entry<decltype(&::COMSTATUS)>(kComstatus, "COMSTATUS", Missing::Quiet);
    if (fn == nullptr) return std::nullopt;
    QByteArray text(kDetailSize, '\0');
    const std::int16_t result = fn(port, text.data(), kDetailSize);
    detail = QString::fromUtf8(text.constData());
    return result;
}

std::optional<std::int16_t> Driver::EDGES(std::vector<Edge> &edges, std::int16_t max)
{
    auto fn = entry<decltype(&::EDGES)>(kEdges, "EDGES", Missing::Quiet);
    if (fn == nullptr) return std::nullopt;
    std::vector<rscom_edge> taken(static_cast<std::size_t>(max > 0 ? max : 0));
    const std::int16_t result = fn(taken.data(), max);
    for (std::int16_t i = 0; i < result && i < max; ++i) {
        const rscom_edge &e = taken[static_cast<std::size_t>(i)];
        edges.push_back(Edge{e.time, e.count, e.line, e.level});
    }
    return result;
}

std::int16_t OPENCOM(const QString &settings)
{
    return driver().OPENCOM(settings);
}
void TXD(std::int16_t level)
{
    driver().TXD(level);
}
void DTR(std::int16_t level)
{
    driver().DTR(level);
}
void RTS(std::int16_t level)
{
    driver().RTS(level);
}
std::int16_t DCD()
{
    return driver().DCD();
}
std::int16_t DSR()
{
    return driver().DSR();
}
std::int16_t CTS()
{
    return driver().CTS();
}
std::int16_t RI()
{
    return driver().RI();
}
std::optional<std::int16_t> COMSTATUS(std::int16_t port, QString &detail)
{
    return driver().COMSTATUS(port, detail);
}
std::optional<std::int16_t> EDGES(std::vector<Edge> &edges, std::int16_t max)
{
    return driver().EDGES(edges, max);
}

} // namespace Modul1
