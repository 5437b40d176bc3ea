// The test's side of the scriptable driver: reaches the script entries of the
// librscom.so.1 that the binding loaded.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class FakeDriver
{
public:
    FakeDriver();

    void reset();
    void setOpenResult(int port, std::int16_t result);
    void setInputs(std::int16_t dcd, std::int16_t dsr, std::int16_t cts, std::int16_t ri);
    // What COMSTATUS answers, in the variant that has it.
    void setStatus(int port, std::int16_t result, const QString &detail = {});
    void clearLog();
    // The EDGES variant: what the next tick reads and takes.
    struct Edge {
        std::int64_t time;
        std::int32_t count;
        std::int16_t line, level;
    };
    void scriptTick(std::int16_t dcd, std::int16_t dsr, std::int16_t cts, std::int16_t ri,
                    const std::vector<Edge> &edges = {}, std::int16_t result = 0);
    int scriptLeft() const;

    // Every call so far.
    QStringList log() const;
    // The calls so far without the line reads of the monitor's ticks.
    QStringList calls() const;
    // How many times `call` was made.
    int count(const QString &call) const;

private:
    void (*m_reset)() = nullptr;
    void (*m_setOpenResult)(int, std::int16_t) = nullptr;
    void (*m_setInputs)(std::int16_t, std::int16_t, std::int16_t, std::int16_t) = nullptr;
    void (*m_setStatus)(int, std::int16_t, const char *) = nullptr;
    const char *(*m_log)() = nullptr;
    void (*m_clearLog)() = nullptr;
    void (*m_scriptTick)(std::int16_t, std::int16_t, std::int16_t, std::int16_t, const Edge *, int,
                         std::int16_t) = nullptr;
    int (*m_scriptLeft)() = nullptr;
};
