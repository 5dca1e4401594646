// Reading service answers: values are taken as text, so a number and its
// decimal string are equal. A member of an unexpected kind (array, object)
// reads as empty text instead of throwing.
#pragma once

#include <json/json.h>
#include <string>
#include <string_view>

// Parses a whole answer (comments allowed); false when it is not JSON or
// the reader refuses it (e.g. nested too deeply). Never throws.
bool ParseJson(std::string_view body, Json::Value& root);

// Text form of `value`: strings as they are, numbers as decimal digits,
// booleans "true"/"false", null and arrays/objects as empty text.
std::string JsonText(const Json::Value& value);

// Text form of member `key` of `object`; empty when `object` is not an
// object or has no such member.
std::string MemberText(const Json::Value& object, const char* key);
