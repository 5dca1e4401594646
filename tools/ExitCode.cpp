#include "tools/ExitCode.h"

int ExitCodeOf(const DownloadFailure& failure)
{
    switch (failure.cause) {
    case FailureCause::HttpStatus:
        return failure.status == 404 || failure.status == 410 ? kNotFound : kBadAnswer;
    case FailureCause::BadAnswer: return kBadAnswer;
    case FailureCause::Redirects: return kRedirects;
    case FailureCause::BadUrl: return kUsage;
    case FailureCause::HostNotFound: return kHostNotFound;
    case FailureCause::Network:
    case FailureCause::Tls: return kNetwork;
    case FailureCause::DiskSpace: return kDiskSpace;
    case FailureCause::FileAccess: return kCannotWrite;
    case FailureCause::Checksum: return kChecksum;
    default: return kOther;
    }
}

bool MayHeal(const DownloadFailure& failure)
{
    long s = failure.status;
    return failure.cause == FailureCause::Network || failure.cause == FailureCause::Transfer ||
           failure.cause == FailureCause::Changed ||
           (failure.cause == FailureCause::HttpStatus && (s >= 500 || s == 408 || s == 429));
}
