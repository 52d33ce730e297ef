#pragma once
// Waiting on a socket with a limit, for every subsystem that talks TCP.

// Waits up to timeoutMs (-1: no limit) for poll events on a socket: above 0
// when ready, 0 on time-out, below 0 on error or for a socket below 0.
// A signal does not cut the wait short.
int WaitForSocket(int socket, short events, int timeoutMs);
