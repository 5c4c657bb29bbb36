#pragma once

#include <string>

// Cutting a connection that httplib is serving. Handlers never see their socket, so it is found by
// its address pair: the kernel's TCP table gives the socket's inode, and the process's descriptor
// links give the descriptor holding that inode. Other threads' descriptors are only looked up by
// name, never used. The socket is set to reset on close and shut down, not closed: httplib still
// owns the descriptor and closes it itself, so no other connection can inherit the number.

namespace pelmar::test::internal {

// Resets the TCP connection local:localPort <-> remote:remotePort (IPv4) of this process. Returns
// false when no such socket is open here.
bool abortConnection(const std::string& localAddress,
                     int localPort,
                     const std::string& remoteAddress,
                     int remotePort);

}  // namespace pelmar::test::internal
