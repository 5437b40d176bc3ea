// Lintara: shows the modem-control lines of a serial port and drives its
// outputs. The program is its windows; starting it shows the port chooser.
#include "form2.h"
#include "modul1.h"
#include "registry.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    return Startup::run(argc, argv);
}
