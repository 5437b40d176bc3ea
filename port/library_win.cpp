#include "library.h"

#include <windows.h>

namespace Modul1::detail
{

namespace
{

QString lastError()
{
    wchar_t *text = nullptr;
    const DWORD code = ::GetLastError();
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString reason = text != nullptr ? QString::fromWCharArray(text).trimmed()
                                     : QStringLiteral("error %1").arg(code);
    ::LocalFree(text);
    return reason;
}

} // namespace

// The standard DLL search order.
void *openLibrary(const QString &name, QString &reason)
{
    HMODULE module = ::LoadLibraryW(reinterpret_cast<const wchar_t *>(name.utf16()));
    if (module == nullptr) reason = lastError();
    return reinterpret_cast<void *>(module);
}

void *findEntry(void *library, const char *name, QString &reason)
{
    FARPROC entry = ::GetProcAddress(static_cast<HMODULE>(library), name);
    if (entry == nullptr) reason = lastError();
    return reinterpret_cast<void *>(entry);
}

} // namespace Modul1::detail
