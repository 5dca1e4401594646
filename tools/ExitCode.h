// qv-download's exit codes, and what a failure means for the code and for
// trying again.
#pragma once

#include "net/DownloadFailure.h"

enum ExitCode {
    kComplete = 0, kOther = 1, kUsage = 2, kNotFound = 3, kNetwork = 6, kDiskSpace = 9,
    kCannotWrite = 16, kHostNotFound = 19, kBadAnswer = 22, kRedirects = 23, kChecksum = 32, kStopped = 130,
};

int ExitCodeOf(const DownloadFailure& failure);

// Trying again can help: the network, a server in trouble (5xx, 408, 429),
// transfers that broke off, a file replaced on the server meanwhile.
bool MayHeal(const DownloadFailure& failure);
