// libcurl's process-wide set-up, done once before the first transfer from
// whichever thread gets there first.
#pragma once

void EnsureCurlGlobal();
