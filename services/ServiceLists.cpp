#include "services/ServiceLists.h"

#include <cctype>
#include <cstdint>
#include <limits>

#include "common/Utf8ToLocal.h"
#include "services/JsonText.h"

namespace {

// The `data` array of a successful answer; null for every kind of failure.
Json::Value SuccessfulData(std::string_view body, bool* answered)
{
    Json::Value root;
    bool ok = ParseJson(body, root) && MemberText(root, "code") == "0" && root["data"].isArray();
    if (answered)
        *answered = ok;
    return ok ? root["data"] : Json::Value();
}

}  // namespace

const char* StatusText(uint8_t status)
{
    switch (status) {
    case STATUS_NOT_STARTED: return "缓存未开始";
    case STATUS_CACHING: return "缓存中";
    case STATUS_CACHED: return "缓存完成";
    case STATUS_STOPPED: return "缓存停止";
    case STATUS_FAILED: return "缓存失败";
    }
    return "未知状态";
}

const char* meetingStatusText(const std::string& status)
{
    if (status == "0")
        return "未设置";
    if (status == "1")
        return "开启";
    if (status == "2")
        return "关闭";
    if (status == "3")
        return "删除";
    return "未知";
}

std::vector<MeetingRow> ParseMeetingList(std::string_view body, bool* answered)
{
    std::vector<MeetingRow> rows;
    for (const Json::Value& element : SuccessfulData(body, answered))
        if (element.isObject())
            rows.push_back({MemberText(element, "meet_id"), Utf8ToLocal(MemberText(element, "meet_name")),
                        meetingStatusText(MemberText(element, "status"))});
    return rows;
}

std::vector<ResourceItem> ParseResourceList(std::string_view body, bool* answered)
{
    std::vector<ResourceItem> items;
    for (const Json::Value& element : SuccessfulData(body, answered)) {
        ResourceItem item;
        item.url = MemberText(element, "url");  // empty for an element that is no object
        if (item.url.empty())
            continue;
        item.name = Utf8ToLocal(MemberText(element, "name"));
        item.module = MemberText(element, "module");
        item.md5 = MemberText(element, "md5");
        item.type = MemberText(element, "type");
        item.size = ParseSize(MemberText(element, "size"));
        items.push_back(std::move(item));
    }
    return items;
}

int64_t ParseSize(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    const int64_t limit = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        int digit = text[i] - '0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}
