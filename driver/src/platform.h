// What the serial backend needs of the operating system beyond libserialport.
#pragma once

#include <libserialport.h>

#include <string>

namespace rscom
{

// Whether the path can be a serial line at all; checked before anything opens
// it, so that a FIFO or a regular file is never opened.
bool mayBeSerialLine(const std::string &path);

// The port's lock, taken before libserialport opens the port and touches its
// settings: a port that another program holds is left exactly as it is.
class Reservation
{
public:
    explicit Reservation(const std::string &path);
    ~Reservation();
    Reservation(const Reservation &) = delete;
    Reservation &operator=(const Reservation &) = delete;

    // False when another program holds the port.
    bool held() const;

    // Makes the open port ours alone and keeps it out of programs we start;
    // the lock moves onto the port's own descriptor.
    bool claim(sp_port *port);

private:
    int m_fd = -1;
};

// Settings libserialport leaves as the port had them: after this the port
// has no flow control of any kind.
bool clearFlowControl(sp_port *port);

} // namespace rscom
