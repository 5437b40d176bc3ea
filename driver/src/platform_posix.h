// The POSIX side of claiming a port, on the descriptor itself.
#pragma once

namespace rscom
{

// Close-on-exec, a non-blocking exclusive lock and TIOCEXCL on an open
// descriptor: false when another program holds the port.
bool claimDescriptor(int fd);

} // namespace rscom
