// CWaitCursor: the busy cursor on every window for as long as the object
// lives, as around a request the UI thread waits for.
#pragma once

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
