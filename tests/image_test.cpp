// The shipped DLLs are 32-bit images for Windows NT 4.0 that import only
// system DLLs (the compiler's runtime linked in) and export what their hosts call.
#include <gtest/gtest.h>
#include <algorithm>
#include <cctype>
#include "intercept.h"
#include "pe_image.h"

namespace {

// DLLs that a Windows NT 4.0 installation has.
const char *const Nt4SystemDlls[] = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
    "comdlg32.dll", "winmm.dll", "version.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll",
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return text;
}

// Imported DLLs that Windows NT 4.0 does not have.
std::vector<std::string> ForeignDlls(const PeImage &image)
{
    std::vector<std::string> foreign;
    for (const std::string &dll : image.importedDlls) {
        std::string name = Lower(dll);
        if (std::none_of(std::begin(Nt4SystemDlls), std::end(Nt4SystemDlls),
                         [&](const char *system) { return name == system; }))
            foreign.push_back(dll);
    }
    return foreign;
}

void ExpectNt4Dll(const PeImage &image)
{
    ASSERT_TRUE(image.valid);
    EXPECT_EQ(image.file.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(image.file.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(image.optional.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(image.optional.MajorSubsystemVersion, 4);
    EXPECT_EQ(image.optional.MinorSubsystemVersion, 0);
    EXPECT_EQ(image.optional.MajorOperatingSystemVersion, 4);
    EXPECT_EQ(image.optional.MinorOperatingSystemVersion, 0);
    EXPECT_FALSE(image.importedDlls.empty());
    EXPECT_EQ(ForeignDlls(image), std::vector<std::string>());
}

bool Exports(const PeImage &image, const char *name)
{
    return std::find(image.exports.begin(), image.exports.end(), name) != image.exports.end();
}

TEST(ShippedImages, CaptureDriverIsAnNt4DllExportingDriverProc)
{
    PeImage image = ReadPeImage("zentacap.dll");
    ExpectNt4Dll(image);
    EXPECT_EQ(image.exportModule, "ZENTACAP.dll");
    EXPECT_EQ(image.exports, std::vector<std::string>{"DriverProc"});
}

TEST(ShippedImages, PanelServerIsAnNt4DllExportingTheComEntries)
{
    PeImage image = ReadPeImage("qordexa.dll");
    ExpectNt4Dll(image);
    EXPECT_TRUE(Exports(image, "DllGetClassObject"));
    EXPECT_TRUE(Exports(image, "DllCanUnloadNow"));
    EXPECT_EQ(image.exports.size(), 2u);
}

TEST(ShippedImages, ImportCheckFlagsRuntimeAndNewerSystemDlls)
{
    PeImage image;
    image.importedDlls = {"KERNEL32.dll", "libstdc++-6.dll", "libgcc_s_dw2-1.dll",
                          "libwinpthread-1.dll", "ucrtbase.dll", "api-ms-win-crt-runtime-l1-1-0.dll",
                          "msvcrt.dll"};
    EXPECT_EQ(ForeignDlls(image),
              (std::vector<std::string>{"libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libwinpthread-1.dll",
                                        "ucrtbase.dll", "api-ms-win-crt-runtime-l1-1-0.dll"}));
}

TEST(ShippedImages, ReaderListsTheImportsOfAnImageFile)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    PeImage self = ReadPeImage(path);
    ASSERT_TRUE(self.valid);
    EXPECT_FALSE(self.file.Characteristics & IMAGE_FILE_DLL);
    std::vector<std::string> dlls;
    for (const std::string &dll : self.importedDlls) dlls.push_back(Lower(dll));
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "kernel32.dll"), dlls.end());
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "msvcrt.dll"), dlls.end());
}

int WINAPI AnswerAdapterEscape(HDC, int escape, int, LPCSTR, int outSize, LPSTR out)
{
    if (escape != 0x1100 || outSize != 144)
        return 0;
    ZeroMemory(out, 144);
    reinterpret_cast<DWORD *>(out)[0] = 0x3D3D; // one of the board's vendors
    return 1;
}

TEST(ShippedImages, BothLoadAndResolveTheirExports)
{
    HMODULE capture = LoadLibraryA("zentacap.dll");
    ASSERT_NE(capture, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(capture, "DriverProc"), nullptr);
    FreeLibrary(capture);

    EXPECT_EQ(LoadLibraryA("qordexa.dll"), nullptr) << "Wine's display driver is not the board's";
    HMODULE panel;
    {
        ExportPatch escape(GetModuleHandleA("gdi32.dll"), "ExtEscape", (void *)AnswerAdapterEscape);
        panel = LoadLibraryA("qordexa.dll");
    }
    ASSERT_NE(panel, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(panel, "DllGetClassObject"), nullptr);
    EXPECT_NE(GetProcAddress(panel, "DllCanUnloadNow"), nullptr);
    FreeLibrary(panel);
}

}
