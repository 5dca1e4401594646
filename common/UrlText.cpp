#include "common/UrlText.h"

#include <cstring>

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string& out, unsigned char byte)
{
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

}  // namespace

std::string EscapeUrlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        bool control = byte < 0x20 || byte == 0x7F;
        if (control || (c != '\0' && std::strchr(" #&%+?", c)))
            AppendEscaped(out, byte);
        else
            out += c;
    }
    return out;
}

std::string EscapeTransportBytes(std::string_view url, bool highBytes)
{
    std::string out;
    out.reserve(url.size());
    for (char c : url) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || (highBytes && byte > 0x7F))
            AppendEscaped(out, byte);
        else
            out += c;
    }
    return out;
}

std::string UrlWithoutQuery(const std::string& url)
{
    return url.substr(0, url.find('?'));
}
