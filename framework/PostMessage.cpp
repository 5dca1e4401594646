#include "framework/PostMessage.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex lock;
    std::map<HWND, CMessageTarget*> targets;
    HWND next = 1;  // handles are never reused, so a stale one stays dead
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

CMessageTarget* Find(Registry& r, HWND hwnd)
{
    auto it = r.targets.find(hwnd);
    return it == r.targets.end() ? nullptr : it->second;
}

}  // namespace

HWND RegisterMessageTarget(CMessageTarget* target)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    HWND hwnd = r.next++;
    r.targets[hwnd] = target;
    return hwnd;
}

void UnregisterMessageTarget(HWND hwnd)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.targets.erase(hwnd);
}

bool IsWindow(HWND hwnd)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    return Find(r, hwnd) != nullptr;
}

bool PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    CMessageTarget* target = Find(r, hwnd);
    if (!target)
        return false;
    target->QueueMessage(hwnd, msg, wParam, lParam);
    return true;
}

bool DispatchPostedMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CMessageTarget* target;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> guard(r.lock);
        target = Find(r, hwnd);
    }
    if (!target)
        return false;
    target->HandleMessage(msg, wParam, lParam);
    return true;
}
