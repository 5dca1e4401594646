#include "net/ContentRange.h"

#include <charconv>

namespace {

bool ReadNumber(std::string_view& text, int64_t& value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value < 0)
        return false;
    text.remove_prefix(end - text.data());
    return true;
}

bool Expect(std::string_view& text, char c)
{
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

bool ParseContentRange(std::string_view value, ContentRange& range)
{
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' ||
                              value.back() == '\n'))
        value.remove_suffix(1);
    if (value.substr(0, 6) != "bytes ")
        return false;
    value.remove_prefix(6);
    if (!ReadNumber(value, range.start) || !Expect(value, '-') || !ReadNumber(value, range.end) ||
        !Expect(value, '/') || range.end < range.start)
        return false;
    if (value == "*") {
        range.total = -1;
        return true;
    }
    return ReadNumber(value, range.total) && value.empty() && range.end < range.total;
}
