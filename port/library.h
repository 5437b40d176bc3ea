// Loading a shared library and looking up its entries, with the loader's own
// reason when that fails.
#pragma once

#include <QString>

namespace Modul1::detail
{

// Ordinary library search for `name`; nullptr and a reason on failure.
void *openLibrary(const QString &name, QString &reason);
void *findEntry(void *library, const char *name, QString &reason);

} // namespace Modul1::detail
