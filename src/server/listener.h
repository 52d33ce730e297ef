#pragma once
// The server's front door: the network start-up thread, which chooses the
// local address and runs the listener that accepts one handheld at a time.

#include <cstdint>

class Tuner;

// Body of the network start-up thread. 0, or -1 when the listener could not
// run. The sessions it starts hold tuner for their streams.
int RunNetworkStartup(Tuner& tuner);

// The address the listening sockets bind to, in network byte order.
uint32_t ListenAddress();
