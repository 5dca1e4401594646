#include "net/SystemProxy.h"

SystemProxy ReadSystemProxy()
{
    return {};
}
