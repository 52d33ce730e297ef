#include "platform/socket_wait.h"

#include <cerrno>
#include <poll.h>

int WaitForSocket(int socket, short events, int timeoutMs)
{
    if (socket < 0)
        return -1;
    pollfd watched{socket, events, 0};
    int ready;
    do {
        ready = ::poll(&watched, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}
