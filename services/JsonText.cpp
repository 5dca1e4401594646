#include "services/JsonText.h"

// The reader throws on some input (nesting deeper than its stack limit):
// such an answer is as unusable as one that is not JSON at all.
bool ParseJson(std::string_view body, Json::Value& root)
{
    Json::Reader reader;
    try {
        return reader.parse(body.data(), body.data() + body.size(), root, true);
    } catch (const std::exception&) {
        root = Json::Value();
        return false;
    }
}

std::string JsonText(const Json::Value& value)
{
    if (value.isArray() || value.isObject())
        return std::string();
    return value.asString();
}

std::string MemberText(const Json::Value& object, const char* key)
{
    if (!object.isObject())
        return std::string();
    return JsonText(object[key]);
}
