#include "net/SocketError.h"

// The C runtime knows no Winsock code, and the system's own texts are in
// the language of the installation: the causes met when connecting carry
// the texts the Linux build shows for them.
bool IsConnectionRefused(long osError)
{
    return osError == WSAECONNREFUSED;
}

std::string SocketErrorText(long osError)
{
    switch (osError) {
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAECONNABORTED: return "Software caused connection abort";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAENETUNREACH: return "Network is unreachable";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAENETDOWN: return "Network is down";
    case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
    case WSAEACCES: return "Permission denied";
    default: return "Winsock error " + std::to_string(osError);
    }
}
