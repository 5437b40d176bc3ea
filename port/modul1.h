// The program's binding to the port driver. The driver library is loaded by
// name on the first call, and each entry is looked up on its own first call,
// so a driver that lacks an entry the program never calls still works.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace Modul1
{

// Called when the driver library or one of its entries cannot be loaded,
// with the library's name and the loader's reason. The program's handler
// reports it and ends the program; if a handler returns, the call that failed
// does nothing and reads as "not opened" or "-1".
using FailureHandler = std::function<void(const QString &library, const QString &reason)>;
void setFailureHandler(FailureHandler handler);

// The driver's entries, as the program calls them.
std::int16_t OPENCOM(const QString &settings);
void TXD(std::int16_t level);
void DTR(std::int16_t level);
void RTS(std::int16_t level);
std::int16_t DCD();
std::int16_t DSR();
std::int16_t CTS();
std::int16_t RI();

// One loaded driver library. The entries above use the library the
// ordinary search finds under libraryName(); tests may open others.
class Driver
{
public:
    explicit Driver(QString library);
    ~Driver();
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    std::int16_t OPENCOM(const QString &settings);
    void TXD(std::int16_t level);
    void DTR(std::int16_t level);
    void RTS(std::int16_t level);
    std::int16_t DCD();
    std::int16_t DSR();
    std::int16_t CTS();
    std::int16_t RI();

private:
    struct Entries;
    template <typename Fn> Fn entry(int index, const char *name);

    QString m_library;
    void *m_handle = nullptr;
    bool m_failed = false;
    std::unique_ptr<Entries> m_entries;
};

// "librscom.so", "rscom.dll" or "librscom.dylib".
QString libraryName();

} // namespace Modul1
