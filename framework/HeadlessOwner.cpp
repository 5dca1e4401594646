#include "framework/HeadlessOwner.h"

#include <chrono>

CHeadlessOwner::CHeadlessOwner() : m_hWnd(RegisterMessageTarget(this)) {}

CHeadlessOwner::~CHeadlessOwner()
{
    UnregisterMessageTarget(m_hWnd);
}

void CHeadlessOwner::QueueMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back({msg, wParam, lParam});
    }
    m_arrived.notify_one();
}

bool CHeadlessOwner::WaitMessage(Message& message, unsigned long milliseconds)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_arrived.wait_for(guard, std::chrono::milliseconds(milliseconds),
                            [this] { return !m_queue.empty(); }))
        return false;
    message = m_queue.front();
    m_queue.pop_front();
    return true;
}
