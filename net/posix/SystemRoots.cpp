#include "net/SystemRoots.h"

std::string SystemRootCertificates()
{
    return std::string();
}
