// Starting and ending the program.
#pragma once

#include <QString>

namespace Startup
{

// Creates and shows the port chooser and runs the program; arguments are
// ignored. Returns the exit status.
int run(int &argc, char **argv);

// What the windows take from the application, once, before the first window
// is made: the product's name, the program's icon (every window shows it),
// and the substitutes of the windows' font. run() calls it; so do tests that
// make windows without run().
void prepare();

// Tells the user that the port driver could not be loaded and ends the
// program with exit status 1.
[[noreturn]] void driverFailed(const QString &library, const QString &reason);

} // namespace Startup
