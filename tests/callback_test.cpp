// Every callback type a client may name reaches it: function (the other
// tests), window, thread and event.
#include "capture_rig.h"
#include "stream_client.h"

namespace {

class Callbacks : public SmallFrameChannelTest {
protected:
    // Runs a two-header stream and collects the posted callbacks from this
    // thread's queue until MM_DRVM_CLOSE.
    std::vector<MSG> Run(DWORD flags, DWORD_PTR callback)
    {
        StreamClient client(driverProc, 4, 2, SmallFrame);
        EXPECT_EQ(client.Init(flags, callback), DV_ERR_OK);
        EXPECT_EQ(client.AddAll(), DV_ERR_OK);
        EXPECT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
        std::vector<MSG> seen;
        DWORD start = GetTickCount();
        MSG msg;
        bool stopped = false;
        while (GetTickCount() - start < HangMs) {
            if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                Sleep(1);
                continue;
            }
            DispatchMessageA(&msg);
            if (msg.message < MM_DRVM_OPEN || msg.message > MM_DRVM_DATA)
                continue;
            seen.push_back(msg);
            if (msg.message == MM_DRVM_CLOSE)
                break;
            if (!stopped && std::count_if(seen.begin(), seen.end(), [](const MSG &m) { return m.message == MM_DRVM_DATA; }) == 2) {
                client.Send(DVM_STREAM_STOP);
                stopped = true;
            }
        }
        return seen;
    }
    static void ExpectOpenTwoDataClose(const std::vector<MSG> &seen)
    {
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[0].message, (UINT)MM_DRVM_OPEN);
        EXPECT_EQ(seen[1].message, (UINT)MM_DRVM_DATA);
        EXPECT_EQ(seen[2].message, (UINT)MM_DRVM_DATA);
        EXPECT_EQ(seen[3].message, (UINT)MM_DRVM_CLOSE);
        EXPECT_NE(seen[1].lParam, seen[2].lParam) << "the two headers, one after the other";
        EXPECT_EQ(seen[1].wParam, (WPARAM)0x4321) << "the stream's video handle";
    }
};

TEST_F(Callbacks, WindowCallbacksArePostedToTheWindow)
{
    HWND window = CreateWindowExA(0, "STATIC", "callbacks", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, nullptr);
    std::vector<MSG> seen = Run(CALLBACK_WINDOW, reinterpret_cast<DWORD_PTR>(window));
    ExpectOpenTwoDataClose(seen);
    for (const MSG &m : seen) EXPECT_EQ(m.hwnd, window);
    DestroyWindow(window);
}

TEST_F(Callbacks, ThreadCallbacksArePostedToTheThread)
{
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE); // this thread gets its queue
    std::vector<MSG> seen = Run(CALLBACK_THREAD, GetCurrentThreadId());
    ExpectOpenTwoDataClose(seen);
    for (const MSG &m : seen) EXPECT_EQ(m.hwnd, nullptr);
}

TEST_F(Callbacks, EventCallbacksSignalTheEvent)
{
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    StreamClient client(driverProc, 4, 2, SmallFrame);
    ASSERT_EQ(client.Init(CALLBACK_EVENT, reinterpret_cast<DWORD_PTR>(event)), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    EXPECT_EQ(WaitForSingleObject(event, HangMs), WAIT_OBJECT_0) << "signalled for the open";
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    DWORD start = GetTickCount();
    while (!(client.headers[1].dwFlags & VHDR_DONE) && GetTickCount() - start < HangMs)
        WaitForSingleObject(event, 100);
    EXPECT_TRUE(client.headers[0].dwFlags & VHDR_DONE);
    EXPECT_TRUE(client.headers[1].dwFlags & VHDR_DONE);
    client.Send(DVM_STREAM_STOP);
    EXPECT_EQ(WaitForSingleObject(event, HangMs), WAIT_OBJECT_0) << "signalled for the close";
    CloseHandle(event);
}

}
