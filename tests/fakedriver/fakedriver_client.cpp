#include "fakedriver.h"

static_assert(sizeof(FakeDriver::Edge) == 16, "laid out as rscom_edge");

#include <QLibrary>

#include <cstdio>
#include <cstdlib>

namespace
{

template <typename Fn> Fn entry(QLibrary &library, const char *name)
{
    auto fn = reinterpret_cast<Fn>(library.resolve(name));
    if (fn == nullptr) {
        std::fprintf(stderr, "the scriptable driver lacks %s: %s\n", name,
                     qPrintable(library.errorString()));
        std::abort();
    }
    return fn;
}

} // namespace

FakeDriver::FakeDriver()
{
    // The same library the binding finds: the first librscom.so.1 on the
    // library search path, or on Windows the rscom.dll beside the program.
    QLibrary library(QStringLiteral(LINTARA_FAKE_DRIVER_FILE));
    if (!library.load()) {
        std::fprintf(stderr, "no scriptable driver: %s\n", qPrintable(library.errorString()));
        std::abort();
    }
    m_reset = entry<decltype(m_reset)>(library, "fake_reset");
    m_setOpenResult = entry<decltype(m_setOpenResult)>(library, "fake_set_open_result");
    m_setInputs = entry<decltype(m_setInputs)>(library, "fake_set_inputs");
    m_log = entry<decltype(m_log)>(library, "fake_log");
    m_setStatus = entry<decltype(m_setStatus)>(library, "fake_set_status");
    m_clearLog = entry<decltype(m_clearLog)>(library, "fake_clear_log");
    m_scriptTick = entry<decltype(m_scriptTick)>(library, "fake_script_tick");
    m_scriptLeft = entry<decltype(m_scriptLeft)>(library, "fake_script_left");
}

void FakeDriver::reset()
{
    m_reset();
}
void FakeDriver::setOpenResult(int port, std::int16_t result)
{
    m_setOpenResult(port, result);
}
void FakeDriver::setInputs(std::int16_t dcd, std::int16_t dsr, std::int16_t cts, std::int16_t ri)
{
    m_setInputs(dcd, dsr, cts, ri);
}
void FakeDriver::setStatus(int port, std::int16_t result, const QString &detail)
{
    m_setStatus(port, result, detail.toUtf8().constData());
}
void FakeDriver::clearLog()
{
    m_clearLog();
}
void FakeDriver::scriptTick(std::int16_t dcd, std::int16_t dsr, std::int16_t cts, std::int16_t ri,
                            const std::vector<Edge> &edges, std::int16_t result)
{
    m_scriptTick(dcd, dsr, cts, ri, edges.data(), static_cast<int>(edges.size()), result);
}
int FakeDriver::scriptLeft() const
{
    return m_scriptLeft();
}

QStringList FakeDriver::log() const
{
    return QString::fromLatin1(m_log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FakeDriver::calls() const
{
    static const QStringList reads{QStringLiteral("DCD"), QStringLiteral("DSR"),
                                   QStringLiteral("CTS"), QStringLiteral("RI")};
    QStringList result;
    for (const QString &call : log()) {
        if (!reads.contains(call)) result << call;
    }
    return result;
}

int FakeDriver::count(const QString &call) const
{
    return static_cast<int>(log().count(call));
}
