// Test rig for zentacap.dll: the driver loaded afresh for each test, the
// board reset, the user's settings cleared, and the platform calls a test
// must see or steer (warning boxes, the device open) intercepted.
#ifndef CAPTURE_RIG_H
#define CAPTURE_RIG_H

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "client.h"
#include "intercept.h"
#include "vfwdrv.h"
#include "watchdog.h"

struct WarningBox {
    HWND owner;
    std::string text, caption;
    UINT style;
};

// Per-user settings of the capture driver.
void ClearCaptureSettings();
void StoreSetting(const char *name, DWORD value);
void StoreRawSetting(const char *name, DWORD type, const void *data, DWORD size);
bool StoredSetting(const char *name, DWORD *value);

// "DeviceName" under the kernel service's Parameters key.
void StoreDeviceName(DWORD type, const void *data, DWORD size);

// The board's journal, only its requests, and a wait for the video device to
// be closed (Wine delivers the close of a handle late).
std::vector<JournalEntry> BoardRequests();
bool WaitForBoardClosed();

// Waits for a thread of the test that uses the test's memory; one that runs
// past the watchdog (HangMs) ends the process as a hang, before
// that memory goes.
void JoinOrHang(HANDLE thread, const char *what);

class CaptureDriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    LRESULT Send(DWORD_PTR id, UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0);
    // DRV_OPEN of a channel with 'vcap' open parameters; `open` receives them.
    LRESULT OpenChannelOfType(DWORD type, VIDEO_OPEN_PARMS *open = nullptr);
    // The next device opens of the driver fail with `error`.
    void FailDeviceOpens(DWORD error);

    HMODULE module = nullptr;
    DRIVERPROC driverProc = nullptr;

public:
    static std::vector<WarningBox> warnings; // recorded instead of shown

private:
    std::unique_ptr<ImportPatch> messageBox, createFile;
};

// Channel 4 open on small frames (80 x 60, RGB 15), for stream tests.
class SmallFrameChannelTest : public CaptureDriverTest {
protected:
    static constexpr DWORD SmallFrame = 80 * 60 * 2;
    void SetUp() override;
    void TearDown() override;
};

#endif
