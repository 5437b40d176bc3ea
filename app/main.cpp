// Lintara: shows the modem-control lines of a serial port and drives its
// outputs. The program is its windows; starting it shows the port chooser.
#include "startup.h"

int main(int argc, char *argv[])
{
    return Startup::run(argc, argv);
}
