#include "tools/ListFile.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "common/CodePage.h"
#include "tools/UserFile.h"

namespace {

// The whole file; false (errno set) when it cannot be opened or read.
bool ReadBytes(const std::string& path, std::string& bytes)
{
    FILE* file = OpenUserFile(path);
    if (!file)
        return false;
    char chunk[65536];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, file))
        bytes.append(chunk, n);
    bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 text as UTF-8; a surrogate without its pair becomes U+FFFD, an
// odd last byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    auto unit = [&](size_t i) -> char32_t {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
        return bigEndian ? (byte(i) << 8) | byte(i + 1) : (byte(i + 1) << 8) | byte(i);
    };
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        bool high = c >= 0xD800 && c < 0xDC00;
        char32_t next = i + 3 < bytes.size() ? unit(i + 2) : 0;
        if (high && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

// The text of the list with its byte-order mark read and dropped.
std::string ListText(std::string_view bytes)
{
    auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    if (starts("\xEF\xBB\xBF"))
        return std::string(bytes.substr(3));
    if (starts("\xFF\xFE") || starts("\xFE\xFF"))
        return Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
    return TypedUrl(std::string(bytes));
}

}  // namespace

std::string TypedUrl(const std::string& typed)
{
    std::string utf8 = LocalToUtf8(typed);
    bool lossy = std::count(utf8.begin(), utf8.end(), '?') > std::count(typed.begin(), typed.end(), '?');
    return lossy ? typed : utf8;
}

bool ReadList(const std::string& path, std::vector<std::string>& urls)
{
    std::string bytes;
    if (!ReadBytes(path, bytes))
        return false;
    std::string text = ListText(bytes);
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = std::string_view(text).substr(start, end - start);
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        if (first != std::string_view::npos && line[first] != '#')
            urls.emplace_back(line.substr(first, last - first + 1));
        start = end + 1;
    }
    return true;
}
