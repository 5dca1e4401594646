#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "framework/Event.h"
#include "framework/PostMessage.h"

TEST(Event, WaitAnyReportsTheFirstSetEventAndTimesOut)
{
    CEvent open, closing, error;
    CEvent* events[] = {&open, &closing, &error};
    EXPECT_EQ(WaitForMultipleObjects(3, events, 10), WAIT_TIMEOUT);
    std::thread setter([&] { closing.SetEvent(); });
    EXPECT_EQ(WaitForMultipleObjects(3, events, INFINITE), WAIT_OBJECT_0 + 1);
    setter.join();
    // Manual reset: it stays set until reset.
    EXPECT_EQ(WaitForSingleObject(closing, 0), WAIT_OBJECT_0);
    closing.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(closing, 0), WAIT_TIMEOUT);
}

namespace {

class QueueTarget : public CMessageTarget {
public:
    void QueueMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        m_self = self;
        m_msg = msg;
        m_wParam = wParam;
        m_lParam = lParam;
    }
    void HandleMessage(UINT msg, WPARAM, LPARAM) override { m_handled = msg; }

    HWND m_self = 0;
    UINT m_msg = 0, m_handled = 0;
    WPARAM m_wParam = 0;
    LPARAM m_lParam = 0;
};

}  // namespace

TEST(PostMessage, ReachesALiveTargetAndFailsQuietlyOnceItIsGone)
{
    QueueTarget target;
    HWND hwnd = RegisterMessageTarget(&target);
    EXPECT_TRUE(PostMessageA(hwnd, WM_USER + 100, 2, 42));
    EXPECT_EQ(target.m_self, hwnd);
    EXPECT_EQ(target.m_msg, WM_USER + 100);
    EXPECT_EQ(target.m_wParam, 2u);
    EXPECT_EQ(target.m_lParam, 42);
    EXPECT_TRUE(DispatchPostedMessage(hwnd, WM_USER + 100, 2, 42));
    EXPECT_EQ(target.m_handled, WM_USER + 100);

    UnregisterMessageTarget(hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER + 1, 0, 0));
    EXPECT_FALSE(DispatchPostedMessage(hwnd, WM_USER + 1, 0, 0));
    EXPECT_FALSE(PostMessageA(0, WM_USER + 1, 0, 0));
    // Handles are not reused, so an old one never reaches a new window.
    QueueTarget other;
    HWND next = RegisterMessageTarget(&other);
    EXPECT_NE(next, hwnd);
    UnregisterMessageTarget(next);
}

TEST(PostMessage, PostsFromManyThreadsWhileTheTargetGoesAway)
{
    class CountingTarget : public CMessageTarget {
    public:
        void QueueMessage(HWND, UINT, WPARAM, LPARAM) override { ++m_count; }
        void HandleMessage(UINT, WPARAM, LPARAM) override {}
        std::atomic<int> m_count{0};
    } target;
    HWND hwnd = RegisterMessageTarget(&target);
    std::atomic<int> delivered{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                delivered += PostMessageA(hwnd, WM_USER, 0, 0) ? 1 : 0;
        });
    UnregisterMessageTarget(hwnd);
    int atUnregister = target.m_count;
    for (auto& poster : posters)
        poster.join();
    EXPECT_EQ(target.m_count, atUnregister);
    EXPECT_EQ(target.m_count, delivered);
}
