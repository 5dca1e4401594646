#include "common/UrlText.h"

#include <cstring>

std::string EscapeUrlText(std::string_view text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        bool control = byte < 0x20 || byte == 0x7F;
        if (control || (c != '\0' && std::strchr(" #&%+?", c))) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}
