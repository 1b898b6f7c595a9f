// About: the report's header, the driver under test described before any
// check: its file and version resource, the channels that open, and the
// capture channel's format, API version and caps.
// Lines "@about NAME: VALUE", which the parent prints and puts in the JUnit
// report's properties; nothing here is judged.
#include <cstdio>
#include <string>
#include <vector>
#include "check.h"
#include "host.h"

static void DescribeVersion(const char *file)
{
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(file, &ignored);
    std::vector<BYTE> data(size ? size : 1);
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(file, 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &length) || length < sizeof *fixed) {
        Emit("@about version: no version resource");
        return;
    }
    Emit("@about version: file %u.%u.%u.%u, product %u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
         LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
         HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
         LOWORD(fixed->dwProductVersionLS));
    WORD *language = NULL;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&language), &length) ||
        length < 2 * sizeof(WORD))
        return;
    static const char *const Strings[] = {"FileDescription", "CompanyName"};
    for (const char *name : Strings) {
        char path[64], *text = NULL;
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", language[0], language[1], name);
        if (VerQueryValueA(data.data(), path, reinterpret_cast<void **>(&text), &length) && length && text)
            Emit("@about %s: %s", name, text);
    }
}

void DescribeDriver()
{
    if (!LoadDriver("about.load")) {
        Emit("@about driver: did not load");
        return;
    }
    char file[MAX_PATH] = "";
    GetModuleFileNameA(GetDriverModuleHandle(ConfigInstance), file, MAX_PATH);
    Emit("@about file: %s", file);
    DescribeVersion(file);
    std::string channels;
    for (const ChannelType &t : ChannelTypes) {
        VIDEO_OPEN_PARMS parms;
        if (HDRVR channel = OpenChannel(t.flag, &parms)) {
            channels += (channels.empty() ? "" : ", ") + std::string(t.name);
            CloseInstance(channel);
        }
    }
    Emit("@about channels: %s", channels.empty() ? "none opens" : channels.c_str());
    VIDEO_OPEN_PARMS parms;
    if (HDRVR channel = OpenChannel(VIDEO_IN, &parms)) {
        BITMAPINFOHEADER h;
        char text[160] = "none";
        if (GetFormat(channel, &h))
            DescribeFormat(h, text, sizeof text);
        Emit("@about format: %s", text);
        DWORD version = Untouched;
        DWORD result = Send(channel, DVM_GETVIDEOAPIVER, reinterpret_cast<LPARAM>(&version), 0);
        Emit("@about api: %s, version %lu (VIDEOAPIVERSION is %u)", CodeName(result), version, VIDEOAPIVERSION);
        CHANNEL_CAPS caps = {};
        result = Send(channel, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(&caps), sizeof caps);
        if (result == DV_ERR_OK)
            Emit("@about caps: dwFlags 0x%lX, source steps %lu %lu %lu %lu, destination steps %lu %lu %lu %lu",
                 caps.dwFlags, caps.dwSrcRectXMod, caps.dwSrcRectYMod, caps.dwSrcRectWidthMod, caps.dwSrcRectHeightMod,
                 caps.dwDstRectXMod, caps.dwDstRectYMod, caps.dwDstRectWidthMod, caps.dwDstRectHeightMod);
        else
            Emit("@about caps: %s", CodeName(result));
        CloseInstance(channel);
    }
    UnloadDriver();
}
