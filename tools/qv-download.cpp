// qv-download: downloads files with the client's resumable segmented
// engine, as the caching job does, from the command line. `qv-download -h`
// tells the forms, options and exit codes.
#include <charconv>
#include <clocale>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <strings.h>
#include <string>
#include <vector>

#include "cache/CacheLayout.h"
#include "common/FileSystem.h"
#include "common/Md5.h"
#include "common/Utf8ToLocal.h"
#include "net/ProxyRoute.h"
#include "tools/Console.h"
#include "tools/Destination.h"
#include "tools/Downloader.h"
#include "tools/ListFile.h"
#include "tools/Say.h"
#include "tools/UserPath.h"

namespace {

const char kHelp[] =
    "usage: qv-download [options] URL [DEST]\n"
    "       qv-download [options] -i LIST [-d DIR] [-j N]\n"
    "\n"
    "Downloads URL (http or https) into DEST with up to four ranges in parallel,\n"
    "resumably: DEST.tmp! and DEST.info hold what is done until DEST is complete;\n"
    "run the same command again to resume. DEST that is a directory (or ends\n"
    "in / or, on Windows, \\, or is missing) means that directory, the file\n"
    "named after the URL.\n"
    "\n"
    "  -i LIST     download every URL of LIST (one a line; blank lines and lines\n"
    "              starting with # skipped; UTF-8 or UTF-16 with a byte-order\n"
    "              mark, else in the locale's charset), in order, then a summary\n"
    "  -j N        with -i, download up to N files at once (1 to 32, default 32);\n"
    "              a host takes six at once over six connections on HTTP/1.1,\n"
    "              32 as streams of one connection on HTTP/2 (https). While\n"
    "              files wait, one transfer each; the last files (or the one of\n"
    "              -j 1) spread over the connections left\n"
    "  -d DIR      where -i puts the files (default: the current directory; made\n"
    "              when missing); two entries of one name: the second is NAME.1.EXT\n"
    "  --checksum=md5=HEX\n"
    "              the file's MD5 must be HEX: a file that differs is fetched once\n"
    "              more; when both copies agree it is kept all the same (exit 32)\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "\n"
    "Failures that cannot heal (a 4xx answer, a bad URL, a destination that\n"
    "cannot be written, too little disk space) end the download at once. Network\n"
    "failures and 5xx answers are tried again after 1, 2 and 4 s; the fourth failure\n"
    "in a row without progress ends it. A download without progress for 10 s is\n"
    "restarted. QUORVEL_CA_FILE names a CA file to trust besides the system's.\n"
    "\n"
    "Exit status (of the last failure, for a list):\n"
    "  0    every file complete\n"
    "  1    failed otherwise (the transfers kept breaking off)\n"
    "  2    usage: unknown option, missing argument, not an http(s) URL\n"
    "  3    not found (HTTP 404 or 410)\n"
    "  6    network problem: refused, reset, timed out, stalled, TLS\n"
    "  9    not enough disk space\n"
    "  16   the destination cannot be written\n"
    "  19   host not found\n"
    "  22   another HTTP status, or an answer without a length\n"
    "  23   too many redirects\n"
    "  32   the file's MD5 is not the one given\n"
    "  130  stopped (Ctrl-C, SIGTERM)\n";

// Every URL into `dir` (made when missing), `lanes` at once; a summary at
// the end. The exit code is the last failure's.
int DownloadList(CHeadlessOwner& owner, size_t lanes, const std::string& list, const std::string& dir)
{
    std::vector<std::string> urls;
    if (!ReadList(list, urls)) {
        Say(stderr, "qv-download: cannot read %s: %s\n", list.c_str(), std::strerror(errno));
        return kUsage;
    }
    // An empty DIR is the current directory, as a DEST left out is.
    std::string folder = dir.empty() ? "./" : dir.back() == '/' ? dir : dir + "/";
    CCacheLayout::MakeDirs(folder);
    std::set<std::string> used;
    std::vector<std::string> why(urls.size()), renamed;
    std::vector<Entry> entries(urls.size()), fetched;
    for (size_t i = 0; i < urls.size(); ++i) {
        Entry& entry = entries[i];
        entry.url = urls[i];
        entry.result = kUsage;
        if (!UsableUrl(entry.url))
            why[i] = ": not an http or https URL";
        else if (!Destination(entry.url, folder, entry.dest))
            why[i] = ": unsafe file name";
        else if (std::string unused = UnusedPath(entry.dest, used); unused != entry.dest)
            renamed.push_back(Utf8ToLocal(entry.url) + " -> " + ShownPath(entry.dest = unused));
        if (!entry.dest.empty() && !Writable(entry.dest))
            entry.result = kCannotWrite;
        else if (!entry.dest.empty())
            fetched.push_back(entry);
    }
    Downloader downloader(owner, lanes, StdoutIsTerminal());
    if (!downloader.Run(fetched))
        return kStopped;
    std::vector<std::string> failures;
    int64_t bytes = 0;
    int code = kComplete;
    for (size_t i = 0, f = 0; i < entries.size(); ++i) {
        if (!entries[i].dest.empty() && entries[i].result != kCannotWrite)
            entries[i].result = fetched[f++].result;
        if (entries[i].result == kComplete) {
            bytes += fsys::Stat(entries[i].dest).size;
            continue;
        }
        code = entries[i].result;
        failures.push_back(Utf8ToLocal(entries[i].url) + why[i]);
    }
    Say(stdout, "qv-download: %zu files, %lld bytes, %zu failed\n", urls.size(), static_cast<long long>(bytes),
        failures.size());
    for (const std::string& failure : failures)
        Say(stdout, "  failed: %s\n", failure.c_str());
    for (const std::string& name : renamed)
        Say(stdout, "  renamed: %s (another entry has its name)\n", name.c_str());
    return code;
}

struct Options {
    std::optional<std::string> list, dir;
    std::optional<size_t> lanes;
    std::string md5;
    std::vector<std::string> operands;
};

// -1 when the command line is good, else the exit code to end with.
int ParseOptions(const std::vector<std::string>& args, Options& options)
{
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            Say(stdout, "%s", kHelp);
            return kComplete;
        }
        if (arg == "--version") {
            Say(stdout, "qv-download %s\n", QV_VERSION);
            return kComplete;
        }
        if ((arg == "-i" || arg == "-d") && i + 1 < args.size()) {
            (arg == "-i" ? options.list : options.dir) = args[++i];
        } else if (arg == "-j" && i + 1 < args.size()) {
            const std::string& n = args[++i];
            size_t lanes = 0;
            auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), lanes);
            if (error != std::errc() || end != n.data() + n.size() || lanes < 1 || lanes > Downloader::kMaxLanes) {
                Say(stderr, "qv-download: -j %s: give 1 to %zu\n", n.c_str(), Downloader::kMaxLanes);
                return kUsage;
            }
            options.lanes = lanes;
        } else if (arg.rfind("--checksum=", 0) == 0) {
            options.md5 = arg.substr(11);
            if (strncasecmp(options.md5.c_str(), "md5=", 4) != 0 || !IsMd5Hex(options.md5.substr(4))) {
                Say(stderr, "qv-download: %s: give --checksum=md5=32 HEX DIGITS\n", arg.c_str());
                return kUsage;
            }
            options.md5.erase(0, 4);
        } else if (arg == "--") {
            options.operands.insert(options.operands.end(), args.begin() + i + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            Say(stderr, "qv-download: %s: %s\n", arg.c_str(), arg == "-i" || arg == "-d" || arg == "-j" ? "needs an argument" : "unknown option");
            return kUsage;
        } else {
            options.operands.push_back(arg);
        }
    }
    size_t wanted = options.list ? 0 : options.operands.size();
    if ((options.list && !options.operands.empty()) || (!options.list && (wanted < 1 || wanted > 2)) ||
        ((options.dir || options.lanes) && !options.list) || (options.list && !options.md5.empty())) {
        Say(stderr, "usage: qv-download [options] URL [DEST] | -i LIST [-d DIR] [-j N]; -h tells more\n");
        return kUsage;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    // File names from URLs are stored in the user's code page.
    std::setlocale(LC_ALL, "");
    AdoptSystemProxy();  // before the first thread
    Options options;
    int parsed = ParseOptions(Arguments(argc, argv), options);
    if (parsed >= 0)
        return parsed;
    std::string url, dest;
    if (!options.list) {
        // Characters typed raw are sent UTF-8 encoded, as browsers send them.
        url = TypedUrl(options.operands[0]);
        if (!UsableUrl(url))
            return kUsage;
        if (!Destination(url, options.operands.size() > 1 ? ProgramPath(options.operands[1]) : ".", dest)) {
            Say(stderr, "qv-download: no file name in %s; give DEST\n", options.operands[0].c_str());
            return kUsage;
        }
        if (!Writable(dest))
            return kCannotWrite;
    }

    CHeadlessOwner owner;
    // The first request becomes a posted stop for the main loop; a second
    // ends the process at once (the side file counts only synced bytes, so
    // the pair stays resumable).
    WatchStopRequests([hwnd = owner.GetSafeHwnd()] { PostMessageA(hwnd, WM_STOP_REQUEST, 0, 0); }, kStopped);
    if (options.list)
        return DownloadList(owner, options.lanes.value_or(Downloader::kMaxLanes), *options.list, ProgramPath(options.dir.value_or(".")));
    std::vector<Entry> one{{url, dest, options.md5}};
    return Downloader(owner, 1, StdoutIsTerminal()).Run(one) ? one[0].result : kStopped;
}
