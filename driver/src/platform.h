// What the serial backend needs of the operating system beyond libserialport.
#pragma once

#include <libserialport.h>

#include <string>

namespace rscom
{

// Whether the path can be a serial line at all; checked before anything opens
// it, so that a FIFO or a regular file is never opened.
bool mayBeSerialLine(const std::string &path);

// Makes an open port ours alone and keeps it out of programs we start: false
// when another program holds it.
bool claimPort(sp_port *port);

} // namespace rscom
