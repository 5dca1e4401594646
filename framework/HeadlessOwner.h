// A message owner without a window, for command-line front ends: posted
// messages queue up here and the owner's thread takes them with
// WaitMessage. The handle dies with the object.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "framework/PostMessage.h"

class CHeadlessOwner : public CMessageTarget {
public:
    struct Message {
        UINT msg = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };

    CHeadlessOwner();
    ~CHeadlessOwner() override;
    CHeadlessOwner(const CHeadlessOwner&) = delete;
    CHeadlessOwner& operator=(const CHeadlessOwner&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The next posted message; false when none came within `milliseconds`.
    bool WaitMessage(Message& message, unsigned long milliseconds);

private:
    void QueueMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void HandleMessage(UINT, WPARAM, LPARAM) override {}

    HWND m_hWnd = 0;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<Message> m_queue;  // guarded by m_lock
};
