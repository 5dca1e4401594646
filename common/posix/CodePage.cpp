#include "common/CodePage.h"
#include "common/Utf8ToLocal.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>

namespace {

// Charset of the process locale as iconv names it ("GBK", "UTF-8", ...).
std::string LocalCodeset()
{
    const char* codeset = nl_langinfo(CODESET);
    // The "C" locale reports ANSI_X3.4-1968; iconv knows it under that name.
    return (codeset && *codeset) ? codeset : "ANSI_X3.4-1968";
}

// Converts `text` from one iconv charset to another. A sequence that cannot
// be read or written is replaced by `substitute` (bytes in the target charset)
// and skipped by `unitSize` input bytes, so the conversion never fails.
std::string Transcode(std::string_view text, const char* from, const char* to,
                      std::string_view substitute, size_t unitSize)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(text);

    std::string out;
    out.reserve(text.size() * 2 + 8);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char chunk[1024];
    while (inLeft > 0) {
        char* outPtr = chunk;
        size_t outLeft = sizeof(chunk);
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, outPtr - chunk);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: unreadable input or a character the target lacks.
        out.append(substitute);
        size_t skip = unitSize < inLeft ? unitSize : inLeft;
        in += skip;
        inLeft -= skip;
    }
    char* outPtr = chunk;
    size_t outLeft = sizeof(chunk);
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);  // flush shift state
    out.append(chunk, outPtr - chunk);
    iconv_close(cd);
    return out;
}

}  // namespace

std::string LocalToUtf8(std::string_view local)
{
    return Transcode(local, LocalCodeset().c_str(), "UTF-8", "?", 1);
}

std::string Utf8ToLocal(std::string_view utf8)
{
    const wchar_t replacement = 0xFFFD;
    std::string wide = Transcode(utf8, "UTF-8", "WCHAR_T",
                                 std::string_view(reinterpret_cast<const char*>(&replacement),
                                                  sizeof replacement),
                                 1);
    return Transcode(wide, "WCHAR_T", LocalCodeset().c_str(), "?", sizeof(wchar_t));
}
