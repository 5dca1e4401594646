// A name lookup that takes seconds, as in a venue whose DNS is out: the
// test binaries' own getaddrinfo makes every name under ".slow.test" wait
// SlowLookupMs() and then resolve to 127.0.0.1; other names go to the C
// library. Nothing leaves this machine.
#pragma once

#include <string>

// How long a ".slow.test" lookup takes (default 4000 ms).
void SetSlowLookupMs(int milliseconds);
// How many ".slow.test" lookups began so far: a test waits for the next
// one to know its transfer is in the lookup.
int SlowLookupsBegun();
// "http://<name>.slow.test:<port><path>".
std::string SlowHostUrl(int port, const std::string& path);
