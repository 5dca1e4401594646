// The answers of the meeting and resource services, read into rows without
// any window. A failed answer of any kind (not JSON, `code` not "0", `data`
// not an array) gives no rows; members of unexpected kinds read as empty.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "services/ResourceItem.h"

struct MeetingRow {
    std::string meet_id;  // text form, byte for byte
    std::string name;     // meet_name in the local code page
    std::string status;   // the status word (UTF-8)
};

// "未设置", "开启", "关闭", "删除" for "0" to "3", else "未知" (UTF-8).
const char* meetingStatusText(const std::string& status);

// `answered`, when given, tells whether the answer was a successful one
// (a list that is really empty) or a failure of any kind.
std::vector<MeetingRow> ParseMeetingList(std::string_view body, bool* answered = nullptr);

// Elements with an empty `url` are skipped; order is kept.
std::vector<ResourceItem> ParseResourceList(std::string_view body, bool* answered = nullptr);

// Optional sign and leading digits as a signed 64-bit number, 0 without
// digits; values beyond the range stop at its ends.
int64_t ParseSize(const std::string& text);
