// Manual-reset events with timed waits and "wait for any", in place of the
// Windows event objects the engine and the main window wait on.
//
// All events share one lock and one condition variable: waits are rare and
// short-lived, and it makes waiting on several events at once simple and
// free of lost wake-ups.
#pragma once

#include <cstddef>

class CEvent {
public:
    explicit CEvent(bool initiallySet = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    bool IsSet() const;

private:
    friend unsigned long WaitForMultipleObjects(size_t, CEvent* const*, unsigned long);
    bool m_bSet;  // guarded by the shared event lock
};

// WAIT_OBJECT_0 when set, WAIT_TIMEOUT after `milliseconds` (INFINITE waits).
unsigned long WaitForSingleObject(CEvent& event, unsigned long milliseconds);

// WAIT_OBJECT_0 + index of the first set event, or WAIT_TIMEOUT.
unsigned long WaitForMultipleObjects(size_t count, CEvent* const* events,
                                     unsigned long milliseconds);
