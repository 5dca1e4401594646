// Thread-safe posted messages to window handles.
//
// A window (or a headless owner such as a command-line front end) registers
// a CMessageTarget and gets a handle. Any thread may post to the handle; the
// target queues the message for its own thread, which hands it back through
// DispatchPostedMessage. Once the target is unregistered, posts fail and
// messages still queued are dropped, so a worker may keep a handle after the
// window is gone.
#pragma once

#include "framework/Win32Types.h"

class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;
    // Called with the registry lock held, from the posting thread: must only
    // queue, never block or call back into the registry.
    virtual void QueueMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // Called on the target's own thread by DispatchPostedMessage.
    virtual void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

HWND RegisterMessageTarget(CMessageTarget* target);
void UnregisterMessageTarget(HWND hwnd);
bool IsWindow(HWND hwnd);

// False when the handle is null or its target is gone.
bool PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Runs on the target's own thread: delivers the message unless the target
// was unregistered meanwhile. The target must be unregistered on that same
// thread, so it cannot vanish during the call.
bool DispatchPostedMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
