#include "modul1.h"

#include "library.h"

#include <rscom.h>

#include <QByteArray>

#include <array>
#include <forward_list>
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

enum Entry { kOpencom, kTxd, kDtr, kRts, kDcd, kDsr, kCts, kRi, kComstatus, kEdges, kEntryCount };
constexpr std::array<const char *, kEntryCount> kEntryNames = {
    "OPENCOM", "TXD", "DTR", "RTS", "DCD", "DSR", "CTS", "RI", "COMSTATUS", "EDGES"};

// Entries a driver made for the original ones lacks: missing, they are
// never reported.
constexpr bool optional(Entry entry)
{
    return entry == kComstatus || entry == kEdges;
}

// One driver library, loaded on the first call of any entry, each entry
// looked up on its own first call.
class Library
{
public:
    explicit Library(QString name) : m_name(std::move(name)) {}

    // The entry, or nullptr after a failure, which was reported once unless
    // the entry is optional.
    template <typename Fn> Fn entry(Entry index)
    {
        void *&address = m_address[index];
        if (address == nullptr && !m_failed && !m_missing[index]) address = find(index);
        return reinterpret_cast<Fn>(address);
    }

private:
    void *find(Entry index)
    {
        QString reason;
        if (m_handle == nullptr) {
            m_handle = detail::openLibrary(m_name, reason);
            if (m_handle == nullptr) {
                m_failed = true;
                reportFailure(m_name, reason);
                return nullptr;
            }
        }
        void *address = detail::findEntry(m_handle, kEntryNames[index], reason);
        if (address == nullptr) {
            m_missing[index] = true;
            if (!optional(index)) reportFailure(m_name, reason);
        }
        return address;
    }

    QString m_name;
    void *m_handle = nullptr;
    bool m_failed = false;
    std::array<void *, kEntryCount> m_address{};
    std::array<bool, kEntryCount> m_missing{};
};

// Every library loaded so far, the current one first. None is ever unloaded.
std::forward_list<Library> &libraries()
{
    static std::forward_list<Library> loaded;
    return loaded;
}

Library &library()
{
    if (libraries().empty()) libraries().emplace_front(libraryName());
    return libraries().front();
}

template <typename Fn> Fn entry(Entry index)
{
    return library().entry<Fn>(index);
}

std::int16_t readLine(Entry index)
{
    auto fn = entry<decltype(&::DCD)>(index);
    return fn != nullptr ? fn() : RSCOM_UNREADABLE;
}

void setLine(Entry index, std::int16_t level)
{
    if (auto fn = entry<decltype(&::DTR)>(index)) fn(level);
}

// Room for COMSTATUS's detail: a path and three USB strings of at most 126
// characters each, and the rest.
constexpr std::int16_t kDetailSize = 2048;

static_assert(kEdgesNoPort == RSCOM_EDGES_NO_PORT && kEdgesUntold == RSCOM_EDGES_UNTOLD);
static_assert(kLineDcd == RSCOM_LINE_DCD && kLineDsr == RSCOM_LINE_DSR &&
              kLineCts == RSCOM_LINE_CTS && kLineRi == RSCOM_LINE_RI);
static_assert(opened(RSCOM_OPENED) && !opened(RSCOM_NOT_OPENED));

} // namespace

void setFailureHandler(FailureHandler handler)
{
    failureHandler() = std::move(handler);
}

void useLibrary(const QString &name)
{
    libraries().emplace_front(name);
}

QString libraryName()
{
    return QStringLiteral(LINTARA_DRIVER_FILE);
}

std::int16_t OPENCOM(const QString &settings)
{
    auto fn = entry<decltype(&::OPENCOM)>(kOpencom);
    return fn != nullptr ? fn(settings.toLocal8Bit().constData()) : RSCOM_NOT_OPENED;
}

void TXD(std::int16_t level)
{
    setLine(kTxd, level);
}

void DTR(std::int16_t level)
{
    setLine(kDtr, level);
}

void RTS(std::int16_t level)
{
    setLine(kRts, level);
}

std::int16_t DCD()
{
    return readLine(kDcd);
}

std::int16_t DSR()
{
    return readLine(kDsr);
}

std::int16_t CTS()
{
    return readLine(kCts);
}

std::int16_t RI()
{
    return readLine(kRi);
}

std::optional<std::int16_t> COMSTATUS(std::int16_t port, QString &detail)
{
    auto fn = entry<decltype(&::COMSTATUS)>(kComstatus);
    if (fn == nullptr) return std::nullopt;
    QByteArray text(kDetailSize, '\0');
    const std::int16_t result = fn(port, text.data(), kDetailSize);
    detail = QString::fromUtf8(text.constData());
    return result;
}

std::optional<std::int16_t> EDGES(std::vector<Edge> &edges, std::int16_t max)
{
    auto fn = entry<decltype(&::EDGES)>(kEdges);
    if (fn == nullptr) return std::nullopt;
    std::vector<rscom_edge> taken(static_cast<std::size_t>(max > 0 ? max : 0));
    const std::int16_t result = fn(taken.data(), max);
    for (std::int16_t i = 0; i < result && i < max; ++i) {
        const rscom_edge &e = taken[static_cast<std::size_t>(i)];
        edges.push_back(Edge{e.time, e.count, e.line, e.level});
    }
    return result;
}

} // namespace Modul1
