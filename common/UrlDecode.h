// Form-style percent decoding of file names taken from URLs.
#pragma once

#include <string>
#include <string_view>

// "0"-"9" → 0-9, "A"-"Z" and "a"-"z" → 10-35, any other character → its own
// code. No validation, so "%zz" still yields a byte.
int HexValue(char c);

// "+" → space, "%XY" → byte (16 * HexValue(X) + HexValue(Y)) mod 256, every
// other byte copied. A "%" with fewer than two characters after it is copied
// as it stands together with what follows it.
std::string UrlDecode(std::string_view text);
