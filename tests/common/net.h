#pragma once
// Loopback ports for the servers the tests start.
namespace vx::test {

// A port that was free a moment ago (bind to port 0, read it back, close).
int FreeLoopbackPort();
// Whether something accepts connections on 127.0.0.1:port.
bool AcceptsConnections(int port);

}  // namespace vx::test
