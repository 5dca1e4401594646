#include <sys/socket.h>

#include "net/TransferStop.h"

void ShutDownSocket(curl_socket_t socket)
{
    shutdown(socket, SHUT_RDWR);
}
