#include <winsock2.h>

#include "net/TransferStop.h"

void ShutDownSocket(curl_socket_t socket)
{
    shutdown(socket, SD_BOTH);
}
