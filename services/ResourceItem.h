// ResourceItem: one media resource of a meeting, the record the caching
// side works on. Each row of the content list owns one; whoever deletes the
// rows releases the records first.
#pragma once

#include <cstdint>
#include <string>

// Cache status codes, stored in `status` and shown in the content list.
enum ResourceStatus : uint8_t {
    STATUS_NOT_STARTED = 0,  // "缓存未开始"
    STATUS_CACHING = 1,      // "缓存中"
    STATUS_CACHED = 2,       // "缓存完成"
    STATUS_STOPPED = 3,      // "缓存停止"
    STATUS_FAILED = 4,       // "缓存失败"
};

struct ResourceItem {
    std::string name;    // display name, local code page
    std::string module;  // as received
    std::string url;     // as received; never empty
    std::string md5;     // as received; not used
    std::string type;    // as received
    int64_t size = 0;    // expected size; 0 when unknown
    int64_t downloaded = 0;
    uint8_t status = STATUS_NOT_STARTED;
};

// The status text of a code (UTF-8); "未知状态" for any other value.
const char* StatusText(uint8_t status);
