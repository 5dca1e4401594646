#include "framework/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "framework/Win32Types.h"

namespace {

std::mutex& EventLock()
{
    static std::mutex lock;
    return lock;
}

std::condition_variable& EventChanged()
{
    static std::condition_variable changed;
    return changed;
}

}  // namespace

CEvent::CEvent(bool initiallySet) : m_bSet(initiallySet) {}

void CEvent::SetEvent()
{
    {
        std::lock_guard<std::mutex> guard(EventLock());
        m_bSet = true;
    }
    EventChanged().notify_all();
}

void CEvent::ResetEvent()
{
    std::lock_guard<std::mutex> guard(EventLock());
    m_bSet = false;
}

bool CEvent::IsSet() const
{
    std::lock_guard<std::mutex> guard(EventLock());
    return m_bSet;
}

unsigned long WaitForSingleObject(CEvent& event, unsigned long milliseconds)
{
    CEvent* events[] = {&event};
    return WaitForMultipleObjects(1, events, milliseconds);
}

unsigned long WaitForMultipleObjects(size_t count, CEvent* const* events,
                                     unsigned long milliseconds)
{
    size_t found = count;
    auto anySet = [&] {
        for (found = 0; found < count; ++found)
            if (events[found]->m_bSet)
                return true;
        return false;
    };
    std::unique_lock<std::mutex> guard(EventLock());
    if (milliseconds == INFINITE) {
        EventChanged().wait(guard, anySet);
    } else if (!EventChanged().wait_for(guard, std::chrono::milliseconds(milliseconds), anySet)) {
        return WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0 + static_cast<unsigned long>(found);
}
