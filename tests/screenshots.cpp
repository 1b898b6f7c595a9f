// screenshots: pictures of the driver's dialogs for the documentation, taken
// from the dialogs' own windows under Xvfb. Usage: screenshots OUTDIR
#include <cstdio>
#include <string>
#include "png.h"
#include "res/resource.h"
#include "ui_script.h"
#include "vfwdrv.h"

static std::string OutDir;

static bool Shoot(HWND window, const char *name)
{
    std::string path = OutDir + "\\" + name + ".png";
    bool ok = SaveWindowPng(path.c_str(), window);
    if (ok) std::printf("screenshots: wrote %s\n", path.c_str());
    return ok;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots OUTDIR\n");
        return 2;
    }
    OutDir = argv[1];
    HMODULE module = LoadLibraryA("zentacap.dll");
    DRIVERPROC driverProc = reinterpret_cast<DRIVERPROC>(reinterpret_cast<void *>(GetProcAddress(module, "DriverProc")));
    if (!driverProc)
        return 1;
    HWND settings = NULL, about = NULL, source = NULL, format = NULL;
    bool shot = true;
    int settle = 0;
    auto await = [](const char *caption, HWND *found) { return [=] { return (*found = FindDialog(caption)) != NULL; }; };
    auto wait = [&] { return ++settle % 4 == 0; };
    bool finished = RunModal([&] { driverProc(0, NULL, DRV_CONFIGURE, 0, 0); },
                             {await("Brightvane 7K42Q VideoIn Settings", &settings), wait,
                              [&] { shot &= Shoot(settings, "settings"); PostClick(settings, IDC_ABOUT); return true; },
                              await("Brightvane 7K42Q VideoIn About", &about), wait,
                              [&] { shot &= Shoot(about, "about"); SendClick(about, IDOK); return true; },
                              [&] { PostClick(settings, IDC_SOURCE); return true; },
                              await("Brightvane 7K42Q VideoIn Source", &source), wait,
                              [&] { shot &= Shoot(source, "source"); SendClick(source, IDCANCEL); return true; },
                              [&] { return !IsWindow(source); },
                              [&] { PostClick(settings, IDC_FORMAT); return true; },
                              await("Brightvane 7K42Q VideoIn Format", &format), wait,
                              [&] { shot &= Shoot(format, "format"); SendClick(format, IDCANCEL); return true; },
                              [&] { return !IsWindow(format); },
                              [&] { SendClick(settings, IDOK); return true; }});
    FreeLibrary(module);
    return finished && shot ? 0 : 1;
}
