// The interception facility: a tested DLL's platform calls reach the test.
#include <gtest/gtest.h>
#include <windows.h>
#include <mmsystem.h>
#include "intercept.h"

namespace {

typedef LRESULT(WINAPI *DriverProcFn)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

struct DefDriverCall { int count; DWORD_PTR id; HDRVR driver; UINT message; LPARAM p1, p2; } Seen;

LRESULT WINAPI FakeDefDriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    Seen = {Seen.count + 1, id, driver, message, p1, p2};
    return 0x5A5A;
}

TEST(Interception, ImportPatchRedirectsTheDllsCallUntilUndone)
{
    HMODULE capture = LoadLibraryA("zentacap.dll");
    ASSERT_NE(capture, nullptr);
    DriverProcFn driverProc = (DriverProcFn)GetProcAddress(capture, "DriverProc");
    Seen = {};
    {
        ImportPatch patch(capture, "WINMM.dll", "DefDriverProc", (void *)FakeDefDriverProc);
        ASSERT_NE(patch.original, nullptr);
        EXPECT_EQ(driverProc(0, (HDRVR)0x77, 15, 1, 2), 0x5A5A);
        EXPECT_EQ(Seen.count, 1);
        EXPECT_EQ(Seen.message, 15u);
        EXPECT_EQ(Seen.driver, (HDRVR)0x77);
        EXPECT_EQ(Seen.p1, 1);
        EXPECT_EQ(Seen.p2, 2);
    }
    driverProc(0, NULL, 15, 1, 2);
    EXPECT_EQ(Seen.count, 1) << "the patch was not undone";
    FreeLibrary(capture);
}

TEST(Interception, ImportPatchOfAFunctionNotImportedChangesNothing)
{
    HMODULE capture = LoadLibraryA("zentacap.dll");
    EXPECT_EQ(PatchImport(capture, "winmm.dll", "NoSuchFunction", (void *)FakeDefDriverProc), nullptr);
    EXPECT_EQ(PatchImport(capture, "nosuch.dll", "DefDriverProc", (void *)FakeDefDriverProc), nullptr);
    FreeLibrary(capture);
}

TEST(Interception, ExportPatchBindsADllLoadedAfterIt)
{
    HMODULE winmm = LoadLibraryA("winmm.dll");
    ASSERT_EQ(GetModuleHandleA("zentacap.dll"), nullptr) << "must be loaded afresh";
    Seen = {};
    {
        ExportPatch patch(winmm, "DefDriverProc", (void *)FakeDefDriverProc);
        ASSERT_NE(patch.original, nullptr);
        EXPECT_EQ(GetProcAddress(winmm, "DefDriverProc"), (FARPROC)FakeDefDriverProc);
        HMODULE capture = LoadLibraryA("zentacap.dll");
        ((DriverProcFn)GetProcAddress(capture, "DriverProc"))(0, NULL, 15, 3, 4);
        FreeLibrary(capture);
        EXPECT_EQ(Seen.count, 1);
        EXPECT_EQ(Seen.p1, 3);
    }
    EXPECT_NE(GetProcAddress(winmm, "DefDriverProc"), (FARPROC)FakeDefDriverProc);
}

}
