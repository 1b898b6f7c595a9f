// The Display properties page: its COM server, adapter probe, option store
// and page, through the real COM and property-sheet machinery, with the
// display escape and the page's platform calls intercepted.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <prsht.h>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>
#include "intercept.h"
#include "ui_script.h"

namespace {

const CLSID CLSID_PanelExtension = {0x7546D600, 0xBBBE, 0x11D0, {0x92, 0x32, 0x00, 0x60, 0x97, 0x60, 0xA3, 0x5B}};
const char DriverKey[] = "System\\CurrentControlSet\\Services\\BV7K42Q\\Device0";

// What the display driver answers, and what the page asked of the platform.
struct Platform {
    DWORD reply[36];
    bool answers;
    DWORD request[4];
    ULONGLONG physicalBytes;
    bool privilegeFails, readOnly;
    std::deque<int> answersToBoxes;
    struct Box { HWND owner; std::string text, caption; UINT style; };
    std::vector<Box> boxes;
    std::vector<std::pair<UINT, ULONG_PTR>> help; // command, context
    std::vector<UINT> exits;
} P;

void *RealOpenKey, *RealAdjust;

int WINAPI FakeEscape(HDC, int escape, int inSize, LPCSTR in, int outSize, LPSTR out)
{
    if (escape != 0x1100 || inSize != 16 || outSize != 144 || !P.answers)
        return 0;
    std::memcpy(P.request, in, 16);
    std::memcpy(out, P.reply, 144);
    return 1;
}

void WINAPI FakeMemoryStatus(LPMEMORYSTATUS status)
{
    status->dwTotalPhys = static_cast<SIZE_T>(P.physicalBytes);
}

int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    P.boxes.push_back({owner, text, caption, style});
    int answer = P.answersToBoxes.empty() ? IDOK : P.answersToBoxes.front();
    if (!P.answersToBoxes.empty()) P.answersToBoxes.pop_front();
    return answer;
}

BOOL WINAPI RecordHelp(HWND, LPCSTR file, UINT command, ULONG_PTR context)
{
    EXPECT_STREQ(file, "qordexa.hlp");
    P.help.push_back({command, context});
    return TRUE;
}

BOOL WINAPI RecordExit(UINT flags, DWORD)
{
    P.exits.push_back(flags);
    return TRUE;
}

BOOL WINAPI FakeAdjust(HANDLE token, BOOL all, PTOKEN_PRIVILEGES state, DWORD size, PTOKEN_PRIVILEGES old, PDWORD length)
{
    if (P.privilegeFails) {
        SetLastError(ERROR_NOT_ALL_ASSIGNED);
        return FALSE;
    }
    return reinterpret_cast<decltype(&AdjustTokenPrivileges)>(RealAdjust)(token, all, state, size, old, length);
}

LONG WINAPI FakeOpenKey(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key)
{
    if (P.readOnly && (access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    return reinterpret_cast<decltype(&RegOpenKeyExA)>(RealOpenKey)(root, path, options, access, key);
}

void SetValue(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, DriverKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL), ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
}

void SetDword(const char *name, DWORD value) { SetValue(name, REG_DWORD, &value, 4); }

// A stored value: its type and number, or type 0 when missing.
std::pair<DWORD, DWORD> Stored(const char *name)
{
    HKEY key;
    DWORD type = 0, value = 0, size = 4;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&value), &size) != ERROR_SUCCESS)
            type = 0;
        RegCloseKey(key);
    }
    return {type, value};
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\BV7K42Q");
        DWORD clock = 90000000;
        SetValue("HardwareInformation.CurrentChipClockSpeed", REG_BINARY, &clock, 4);
        P = Platform();
        P.answers = true;
        P.reply[0] = 0x104C;
        P.reply[1] = 0x3D07;
        P.reply[16] = 8;
        P.reply[21] = P.reply[22] = 0x40000;
        P.physicalBytes = 64ull << 20;
        CoInitialize(NULL);
    }
    void TearDown() override
    {
        patches.clear();
        if (module)
            FreeLibrary(module);
        CoUninitialize();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\BV7K42Q");
    }
    // Loads the library as the control panel does, the escape answered as set in P.
    bool Load()
    {
        HMODULE gdi = GetModuleHandleA("gdi32.dll");
        {
            ExportPatch escape(gdi, "ExtEscape", (void *)FakeEscape);
            module = LoadLibraryA("qordexa.dll");
        }
        if (!module)
            return false;
        Patch("kernel32.dll", "GlobalMemoryStatus", (void *)FakeMemoryStatus);
        Patch("user32.dll", "MessageBoxA", (void *)RecordBox);
        Patch("user32.dll", "WinHelpA", (void *)RecordHelp);
        Patch("user32.dll", "ExitWindowsEx", (void *)RecordExit);
        RealAdjust = Patch("advapi32.dll", "AdjustTokenPrivileges", (void *)FakeAdjust);
        RealOpenKey = Patch("advapi32.dll", "RegOpenKeyExA", (void *)FakeOpenKey);
        getClassObject = reinterpret_cast<decltype(&DllGetClassObject)>(
            reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<decltype(&DllCanUnloadNow)>(
            reinterpret_cast<void *>(GetProcAddress(module, "DllCanUnloadNow")));
        return true;
    }
    void *Patch(const char *dll, const char *function, void *replacement)
    {
        patches.emplace_back(new ImportPatch(module, dll, function, replacement));
        EXPECT_NE(patches.back()->original, nullptr) << function;
        return patches.back()->original;
    }
    IShellPropSheetExt *Extension()
    {
        IClassFactory *factory = NULL;
        EXPECT_EQ(getClassObject(CLSID_PanelExtension, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
        IShellPropSheetExt *extension = NULL;
        EXPECT_EQ(factory->CreateInstance(NULL, IID_IShellPropSheetExt, reinterpret_cast<void **>(&extension)), S_OK);
        factory->Release();
        return extension;
    }
    static BOOL CALLBACK Collect(HPROPSHEETPAGE page, LPARAM parameter)
    {
        reinterpret_cast<std::vector<HPROPSHEETPAGE> *>(parameter)->push_back(page);
        return TRUE;
    }
    // Shows the sheet with the page and runs `steps` on it (page in `page`).
    bool ShowSheet(std::vector<UiStep> steps)
    {
        IShellPropSheetExt *extension = Extension();
        std::vector<HPROPSHEETPAGE> pages;
        EXPECT_EQ(extension->AddPages(Collect, reinterpret_cast<LPARAM>(&pages)), S_OK);
        extension->Release();
        PROPSHEETHEADERA header = {};
        header.dwSize = sizeof header;
        header.pszCaption = "Display Properties";
        header.nPages = static_cast<UINT>(pages.size());
        header.phpage = pages.data();
        steps.insert(steps.begin(), [this] {
            sheet = FindDialog("Display Properties");
            page = sheet ? reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) : NULL;
            return page != NULL;
        });
        steps.push_back([this] { PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0); return true; });
        return RunModal([&] { PropertySheetA(&header); }, steps);
    }
    static UiStep Do(std::function<void()> action) { return [=] { action(); return true; }; }
    std::string Text(int id) { return WindowText(GetDlgItem(page, id)); }
    std::string Selected(int combo)
    {
        char text[16] = "";
        LRESULT index = SendDlgItemMessageA(page, combo, CB_GETCURSEL, 0, 0);
        if (index != CB_ERR)
            SendDlgItemMessageA(page, combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    void Choose(int combo, const char *text)
    {
        SendDlgItemMessageA(page, combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
    }
    void Apply() { SendMessageA(sheet, PSM_APPLY, 0, 0); }

    HMODULE module = NULL;
    HWND sheet = NULL, page = NULL;
    decltype(&DllGetClassObject) getClassObject = nullptr;
    decltype(&DllCanUnloadNow) canUnloadNow = nullptr;
    std::vector<std::unique_ptr<ImportPatch>> patches;
};

TEST_F(Panel, TheProbeAcceptsOnlyTheBoardsVendors)
{
    const struct { DWORD vendor, device; bool accepted; } cases[] = {
        {0x3D3D, 0x3D07, true}, {0x3D3D, 7, true}, {0x104C, 0x3D07, true}, {0x104C, 0x3D04, true},
        {0x104C, 0x1234, true}, {0x1002, 0x3D07, false}, {0, 0, false}};
    for (const auto &c : cases) {
        P.reply[0] = c.vendor;
        P.reply[1] = c.device;
        EXPECT_EQ(Load(), c.accepted) << std::hex << c.vendor << " " << c.device;
        EXPECT_EQ(P.request[0], 109u);
        EXPECT_EQ(P.request[1], 0u);
        patches.clear();
        if (module) FreeLibrary(module);
        module = NULL;
    }
    P.answers = false; // a display driver without the escape
    EXPECT_FALSE(Load());
}

TEST_F(Panel, FamilySevenShowsItsDepthBufferAtTheScreensSize)
{
    // Family 7: vendor 0x104C with device 0x3D07, or vendor 0x3D3D with device 7.
    const struct { DWORD vendor, device; const char *line; } cases[] = {
        {0x104C, 0x3D07, "Depth/Stencil Buffer: 1536KB"}, {0x3D3D, 7, "Depth/Stencil Buffer: 1536KB"},
        {0x3D3D, 0x3D07, "Depth/Stencil Buffer:"}, {0x104C, 0x3D04, "Depth/Stencil Buffer:"}};
    for (const auto &c : cases) {
        P.reply[0] = c.vendor;
        P.reply[1] = c.device;
        ASSERT_TRUE(Load());
        std::string line;
        EXPECT_TRUE(ShowSheet({Do([&] { line = Text(1044); })}));
        EXPECT_EQ(line, c.line) << std::hex << c.vendor << " " << c.device;
        patches.clear();
        FreeLibrary(module);
        module = NULL;
    }
}

TEST_F(Panel, ClassObjectsAndExtensionsAreCountedForUnloading)
{
    ASSERT_TRUE(Load());
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(CLSID_PanelExtension, IID_IShellPropSheetExt, &object), E_NOINTERFACE);
    EXPECT_EQ(canUnloadNow(), S_OK);

    IClassFactory *first = NULL, *second = NULL;
    ASSERT_EQ(getClassObject(CLSID_PanelExtension, IID_IUnknown, reinterpret_cast<void **>(&first)), S_OK);
    ASSERT_EQ(getClassObject(CLSID_PanelExtension, IID_IClassFactory, reinterpret_cast<void **>(&second)), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(first->LockServer(TRUE), E_NOTIMPL);
    EXPECT_EQ(first->CreateInstance(reinterpret_cast<IUnknown *>(first), IID_IShellPropSheetExt, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(first->CreateInstance(NULL, IID_IUnknown, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    IShellPropSheetExt *extension = NULL;
    ASSERT_EQ(first->CreateInstance(NULL, IID_IShellPropSheetExt, reinterpret_cast<void **>(&extension)), S_OK);
    EXPECT_EQ(extension->AddRef(), 2u);
    EXPECT_EQ(extension->ReplacePage(7, NULL, 0), S_OK);
    EXPECT_EQ(extension->QueryInterface(IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "the extension is still alive";
    EXPECT_EQ(extension->Release(), 1u);
    EXPECT_EQ(extension->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK) << "the refused CreateInstance left nothing behind";
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE, LPARAM calls)
{
    ++*reinterpret_cast<int *>(calls);
    return FALSE;
}

TEST_F(Panel, AddPagesHandsOverOnePageOrTakesItBack)
{
    ASSERT_TRUE(Load());
    IShellPropSheetExt *extension = Extension();
    int refusals = 0;
    EXPECT_EQ(extension->AddPages(RefusePage, reinterpret_cast<LPARAM>(&refusals)), E_FAIL);
    EXPECT_EQ(refusals, 1);
    std::vector<HPROPSHEETPAGE> pages;
    EXPECT_EQ(extension->AddPages(Collect, reinterpret_cast<LPARAM>(&pages)), S_OK);
    EXPECT_EQ(pages.size(), 1u);
    DestroyPropertySheetPage(pages[0]);
    extension->Release();
}

TEST_F(Panel, CoCreateInstanceFindsTheRegisteredServer)
{
    HKEY key;
    char path[MAX_PATH];
    GetFullPathNameA("qordexa.dll", MAX_PATH, path, NULL);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                              "Software\\Classes\\CLSID\\{7546D600-BBBE-11D0-9232-00609760A35B}\\InProcServer32",
                              0, NULL, 0, KEY_WRITE, NULL, &key, NULL), ERROR_SUCCESS);
    RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(path), lstrlenA(path) + 1);
    RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE *>("Apartment"), 10);
    RegCloseKey(key);
    IShellPropSheetExt *extension = NULL;
    HRESULT hr;
    {
        ExportPatch escape(GetModuleHandleA("gdi32.dll"), "ExtEscape", (void *)FakeEscape);
        hr = CoCreateInstance(CLSID_PanelExtension, NULL, CLSCTX_INPROC_SERVER, IID_IShellPropSheetExt,
                              reinterpret_cast<void **>(&extension));
    }
    EXPECT_EQ(hr, S_OK);
    if (extension) extension->Release();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{7546D600-BBBE-11D0-9232-00609760A35B}");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{7546D600-BBBE-11D0-9232-00609760A35B}");
}

TEST_F(Panel, InformationLinesShowClockTextureMemoryAndTheDriversVersion)
{
    char system[MAX_PATH], copy[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    wsprintfA(copy, "%s\\tessgl32.dll", system);
    ASSERT_TRUE(CopyFileA("tessgl32.dll", copy, FALSE));
    ASSERT_TRUE(Load());
    std::vector<std::string> lines;
    EXPECT_TRUE(ShowSheet({Do([&] { for (int id : {1040, 1041, 1042, 1043}) lines.push_back(Text(id)); })}));
    DeleteFileA(copy);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "OpenGL Version: 1.1.20");
    EXPECT_EQ(lines[1], std::string("MCD Build: 4.00.1381.0007 MCD build for the Brightvane 7K42Q, long").substr(0, 63))
        << "a FileVersion too long for the line is cut";
    EXPECT_EQ(lines[2], "Chip clock speed: 90 MHz");
    EXPECT_EQ(lines[3], "Texture Memory: 2048KB");

    DWORD clock = 89999999;
    SetValue("HardwareInformation.CurrentChipClockSpeed", REG_BINARY, &clock, 4);
    std::string line;
    EXPECT_TRUE(ShowSheet({Do([&] { line = Text(1042); lines[0] = Text(1040); })}));
    EXPECT_EQ(line, "Chip clock speed: 89 MHz");
    EXPECT_EQ(lines[0], "OpenGL Driver: <Unknown>") << "without the driver file";

    // A WINDIR too long for the path buffer: no version lines, no overrun.
    ASSERT_TRUE(CopyFileA("tessgl32.dll", copy, FALSE));
    std::string saved = getenv("WINDIR") ? getenv("WINDIR") : "";
    _putenv(("WINDIR=" + std::string(200, 'w')).c_str());
    EXPECT_TRUE(ShowSheet({Do([&] { lines[0] = Text(1040); lines[1] = Text(1041); })}));
    _putenv(("WINDIR=" + saved).c_str());
    DeleteFileA(copy);
    EXPECT_EQ(lines[0], "OpenGL Driver: <Unknown>");
    EXPECT_EQ(lines[1], "MCD Build: <Unknown>");
}

TEST_F(Panel, StoredBufferChoicesSelectTheFirstEntryThatBeginsWithThem)
{
    const struct { DWORD count, bytes; const char *buffers, *size; } cases[] = {
        {1, 4096, "10", "40"}, {65, 65000, "", ""}, {0, 65536, "", "64"}, {123456789, 8192, "", "8"}};
    ASSERT_TRUE(Load());
    std::string buffers, size;
    EXPECT_TRUE(ShowSheet({Do([&] { buffers = Selected(1022); size = Selected(1023); })}));
    EXPECT_EQ(buffers, "4") << "the defaults, stored at the start";
    EXPECT_EQ(size, "64");
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers"), std::make_pair(DWORD(REG_DWORD), DWORD(4)));
    EXPECT_EQ(Stored("GlintDMA.SizeOfBuffer"), std::make_pair(DWORD(REG_DWORD), DWORD(65536)));
    EXPECT_EQ(Stored("EnableFastLine"), std::make_pair(DWORD(REG_DWORD), DWORD(1)));
    for (const auto &c : cases) {
        SetDword("GlintDMA.NumberOfBuffers", c.count);
        SetDword("GlintDMA.SizeOfBuffer", c.bytes);
        EXPECT_TRUE(ShowSheet({Do([&] { buffers = Selected(1022); size = Selected(1023); })}));
        EXPECT_EQ(buffers, c.buffers) << c.count;
        EXPECT_EQ(size, c.size) << c.bytes;
    }
}

TEST_F(Panel, ValuesOfOtherTypesAndSizesAndAReadOnlyKey)
{
    const BYTE zero4[4] = {0}, eight[8] = {1};
    SetValue("EnableFastLine", REG_BINARY, zero4, 4);        // read as the number 0
    SetValue("3DExtensions.SupportGDISingle", REG_BINARY, eight, 8); // too long: default 1 replaces it
    ASSERT_TRUE(Load());
    bool fastLine = true;
    EXPECT_TRUE(ShowSheet({Do([&] { fastLine = IsDlgButtonChecked(page, 1026) == BST_CHECKED; })}));
    EXPECT_FALSE(fastLine);
    EXPECT_EQ(Stored("3DExtensions.SupportGDISingle"), std::make_pair(DWORD(REG_DWORD), DWORD(1)));

    DWORD clock = 90000000;
    SetValue("HardwareInformation.CurrentChipClockSpeed", REG_DWORD, &clock, 4);
    LRESULT entries = -1;
    EXPECT_TRUE(ShowSheet({Do([&] { entries = SendDlgItemMessageA(page, 1022, CB_GETCOUNT, 0, 0); })}));
    EXPECT_EQ(entries, 0) << "a chip clock that is not REG_BINARY stops the page's start";

    SetValue("HardwareInformation.CurrentChipClockSpeed", REG_BINARY, &clock, 4);
    HKEY key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverKey, 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueA(key, "GlintDMA.Enabled");
    RegCloseKey(key);
    P.readOnly = true;
    EXPECT_TRUE(ShowSheet({Do([&] { SendDlgItemMessageA(page, 1026, BM_CLICK, 0, 0); Apply(); })}));
    EXPECT_EQ(Stored("GlintDMA.Enabled").first, 0u) << "the default is not stored through a read-only key";
    EXPECT_EQ(Stored("EnableFastLine"), std::make_pair(DWORD(REG_BINARY), DWORD(0)));
    EXPECT_EQ(Stored("GlintDMA.SystemMemory").first, 0u);
    EXPECT_TRUE(P.boxes.empty());
}

// Applies a buffer choice with `memoryMB` of physical memory; the boxes shown.
struct DmaCase { DWORD memoryMB; const char *buffers, *size; int answer; };

class PanelDma : public Panel {
protected:
    std::vector<Platform::Box> ApplyChoice(const DmaCase &c)
    {
        P.physicalBytes = static_cast<ULONGLONG>(c.memoryMB) << 20;
        P.boxes.clear();
        P.answersToBoxes = {c.answer, IDNO}; // the DMA question, then the restart question
        EXPECT_TRUE(ShowSheet({Do([&] { Choose(1022, c.buffers); Choose(1023, c.size); Apply(); })}));
        return P.boxes;
    }
};

TEST_F(PanelDma, TheMemoryLimitDecidesBetweenStoringWarningAndRefusing)
{
    ASSERT_TRUE(Load());
    const std::string warning1024 =
        "Using more than 1024KB of memory for DMA can degrade system performance.  Do\nyou wish to keep these DMA settings?";
    // 32 MB: limit 1024 KB.
    std::vector<Platform::Box> boxes = ApplyChoice({32, "16", "64", IDOK});
    ASSERT_EQ(boxes.size(), 1u) << "only the restart question";
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers").second, 16u);
    EXPECT_EQ(Stored("GlintDMA.SystemMemory").second, 32u);
    boxes = ApplyChoice({32, "32", "64", IDNO});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, warning1024);
    EXPECT_EQ(boxes[0].caption, "Brightvane 7K42Q Warning");
    EXPECT_EQ(boxes[0].style, 0x134u);
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers").second, 16u) << "No keeps the stored value";
    boxes = ApplyChoice({32, "32", "64", IDYES});
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers").second, 32u);
    boxes = ApplyChoice({32, "33", "64", IDOK});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "The DMA settings you have chosen far exceed those required for proper\nsystem operation.  "
                             "Please use no more than 1024KB of memory for\nDMA buffers.  Your original DMA settings have been restored.");
    EXPECT_EQ(boxes[0].caption, "Brightvane 7K42Q/ Error");
    EXPECT_EQ(boxes[0].style, 0x30u);
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers").second, 32u);
    EXPECT_EQ(Stored("GlintDMA.SizeOfBuffer").second, 65536u);

    // 576 KB against the limits of 15, 16, 31 and 32 MB.
    SetDword("GlintDMA.NumberOfBuffers", 4);
    const struct { DWORD memory; size_t boxes; const char *first; } limits[] = {
        {15, 2, "The DMA settings"}, {16, 2, "Using more than 512KB"}, {31, 2, "Using more than 512KB"}, {32, 1, "Would you"}};
    for (const auto &l : limits) {
        boxes = ApplyChoice({l.memory, "9", "64", IDNO});
        ASSERT_EQ(boxes.size(), l.boxes) << l.memory;
        EXPECT_EQ(boxes[0].text.substr(0, std::strlen(l.first)), l.first) << l.memory;
    }
    // 12 MB: limit 256 KB.
    SetDword("GlintDMA.NumberOfBuffers", 2);
    EXPECT_EQ(ApplyChoice({12, "4", "64", IDOK}).size(), 1u);
    EXPECT_EQ(ApplyChoice({12, "8", "64", IDNO})[0].text.substr(0, 21), "Using more than 256KB");
    EXPECT_EQ(ApplyChoice({12, "9", "64", IDOK})[0].text.substr(0, 16), "The DMA settings");
}

TEST_F(PanelDma, FourGigabytesOfMemoryDoNotWrapToNothing)
{
    ASSERT_TRUE(Load());
    P.physicalBytes = 0xFFFFFFFF; // what a 32-bit memory status reports for 4 GB and more
    std::vector<Platform::Box> boxes;
    P.answersToBoxes = {IDNO};
    EXPECT_TRUE(ShowSheet({Do([&] { Choose(1022, "16"); Apply(); })}));
    EXPECT_EQ(Stored("GlintDMA.SystemMemory").second, 4096u);
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers").second, 16u) << "1024 KB is within the limit of 1024 KB";
    ASSERT_EQ(P.boxes.size(), 1u);
    EXPECT_EQ(P.boxes[0].caption, "Brightvane 7K42Q Settings Change");
}

TEST_F(PanelDma, AnUnchangedChoiceAboveTheLimitBringsNoDmaMessage)
{
    SetDword("GlintDMA.NumberOfBuffers", 33);
    SetDword("GlintDMA.SizeOfBuffer", 65536);
    ASSERT_TRUE(Load());
    std::vector<Platform::Box> boxes = ApplyChoice({32, "33", "64", IDOK});
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Stored("GlintDMA.NumberOfBuffers").second, 33u);
}

TEST_F(Panel, TheRestartQuestionComesBackAndFallsBackToLogOff)
{
    ASSERT_TRUE(Load());
    P.answersToBoxes = {IDNO, IDNO, IDYES};
    EXPECT_TRUE(ShowSheet({Do([&] {
        SendDlgItemMessageA(page, 1026, BM_CLICK, 0, 0);
        Apply();
        Apply(); // nothing changed: asked again all the same
        Apply();
    })}));
    ASSERT_EQ(P.boxes.size(), 3u);
    EXPECT_EQ(P.boxes[0].text, "Would you like to reboot so that system changes may take affect?");
    EXPECT_EQ(P.boxes[0].caption, "Brightvane 7K42Q Settings Change");
    EXPECT_EQ(P.boxes[0].style, 4u);
    EXPECT_EQ(P.boxes[0].owner, page);
    EXPECT_EQ(Stored("EnableFastLine").second, 0u);
    EXPECT_EQ(P.exits, std::vector<UINT>{EWX_REBOOT});

    P.privilegeFails = true;
    P.answersToBoxes = {IDYES};
    EXPECT_TRUE(ShowSheet({Do([&] { Apply(); })}));
    EXPECT_EQ(P.exits, (std::vector<UINT>{EWX_REBOOT, EWX_LOGOFF}));
}

TEST_F(Panel, HelpContextsAndTheControlsThatFollowTheDmaBox)
{
    ASSERT_TRUE(Load());
    bool combosAfterClear = true, combosAfterMark = false, applyEnabled = false;
    EXPECT_TRUE(ShowSheet({Do([&] {
        for (DWORD context : {0x80910401u, 0x80910402u, 0x8091043Au, 0x8091043Bu, 0x80910410u, 0x8091FFFFu}) {
            HELPINFO help = {sizeof help, HELPINFO_WINDOW, 0, NULL, context, {0, 0}};
            SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        }
        SendDlgItemMessageA(page, 1025, BM_CLICK, 0, 0);
        combosAfterClear = IsWindowEnabled(GetDlgItem(page, 1022)) || IsWindowEnabled(GetDlgItem(page, 1023));
        SendDlgItemMessageA(page, 1025, BM_CLICK, 0, 0);
        combosAfterMark = IsWindowEnabled(GetDlgItem(page, 1022)) && IsWindowEnabled(GetDlgItem(page, 1023));
    }), Do([&] {
        // Giving a combo box the focus marks the sheet changed.
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(1022, CBN_SETFOCUS), reinterpret_cast<LPARAM>(GetDlgItem(page, 1022)));
        applyEnabled = IsWindowEnabled(GetDlgItem(sheet, 0x3021)) != FALSE;
    })}));
    const std::vector<std::pair<UINT, ULONG_PTR>> expected = {
        {HELP_CONTEXTPOPUP, 0x80910401}, {HELP_CONTEXTPOPUP, 0x80910402}, {HELP_CONTEXTPOPUP, 0}, {HELP_CONTEXTPOPUP, 1}};
    EXPECT_EQ(P.help, expected);
    EXPECT_FALSE(combosAfterClear);
    EXPECT_TRUE(combosAfterMark);
    EXPECT_TRUE(applyEnabled);
}

}
