#include "services/JsonText.h"

bool ParseJson(std::string_view body, Json::Value& root)
{
    Json::Reader reader;
    return reader.parse(body.data(), body.data() + body.size(), root, true);
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
