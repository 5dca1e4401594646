#include "common/UrlDecode.h"

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    return static_cast<unsigned char>(c);
}

std::string UrlDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size()) {
            out += static_cast<char>((16 * HexValue(text[i + 1]) + HexValue(text[i + 2])) & 0xFF);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}
