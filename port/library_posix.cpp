#include "library.h"

#include <dlfcn.h>

namespace Modul1::detail
{

namespace
{

QString lastError()
{
    const char *error = ::dlerror();
    return error != nullptr ? QString::fromLocal8Bit(error) : QStringLiteral("unknown error");
}

} // namespace

// dlopen is called from the program's own code, so that the program's
// RUNPATH (its own library folder) is searched, after LD_LIBRARY_PATH.
void *openLibrary(const QString &name, QString &reason)
{
    void *handle = ::dlopen(name.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) reason = lastError();
    return handle;
}

void *findEntry(void *library, const char *name, QString &reason)
{
    ::dlerror();
    void *entry = ::dlsym(library, name);
    if (entry == nullptr) reason = lastError();
    return entry;
}

} // namespace Modul1::detail
