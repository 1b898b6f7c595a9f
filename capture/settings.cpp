// Capture parameters: defaults, the per-user store and its validation.
#include "settings.h"

// Per-user store; one REG_DWORD per field, the key opened for every value.
static const char SettingsKey[] = "Software\\ORVANTA\\Multimedia\\Brightvane 7K42Q VideoIn";

const Choice FormatChoices[3] = {
    {FORMAT_RGB15, "RGB 15"},
    {FORMAT_RGB24, "RGB 24"},
    {FORMAT_YUV422, "YUV 422"},
};

const Choice VideoStandardChoices[5] = {
    {0, "PAL / NTSC-M"},
    {1, "NTSC / PAL"},
    {2, "PAL-N / NTSC"},
    {3, "NTSC-N / PAL-M"},
    {5, "SECAM / PAL"},
};

static DWORD ReadSettingDword(const char *name, DWORD fallback)
{
    HKEY key;
    DWORD data = 0, type = 0, size = sizeof data;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return fallback;
    LONG error = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&data), &size);
    RegCloseKey(key);
    // A REG_DWORD shorter than 4 bytes holds no whole value either.
    return error == ERROR_SUCCESS && type == REG_DWORD && size == sizeof data ? data : fallback;
}

static BOOL WriteSettingDword(const char *name, DWORD value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return FALSE;
    LONG error = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                                sizeof value);
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

// Byte fields: stored widened (with zeros, or with the sign for signed
// fields); loaded as the low 8 bits of the stored value.
static BYTE ReadByte(const char *name, BYTE field)
{
    return static_cast<BYTE>(ReadSettingDword(name, field));
}

static signed char ReadSignedByte(const char *name, signed char field)
{
    return static_cast<signed char>(ReadSettingDword(name, static_cast<DWORD>(static_cast<LONG>(field))));
}

static void WriteSignedByte(const char *name, signed char field)
{
    WriteSettingDword(name, static_cast<DWORD>(static_cast<LONG>(field)));
}

void SetDefaultFormatParams(FormatParams &f)
{
    f.formatCode = FORMAT_RGB15;
    f.width = 160;
    f.height = 120;
    f.scaleX = 2;
    f.scaleY = 2;
    f.mirrorX = 0;
    f.mirrorY = 0;
    f.offsetX = 36;
    f.offsetY = 3;
}

void LoadFormatParams(FormatParams &f)
{
    DWORD code = ReadSettingDword("Format", f.formatCode);
    f.formatCode = code == FORMAT_YUV422 || code == FORMAT_RGB24 ? code : FORMAT_RGB15;
    f.width = ReadSettingDword("Width", f.width);
    f.height = ReadSettingDword("Height", f.height);
    f.scaleX = ReadByte("ScaleX", f.scaleX);
    f.scaleY = ReadByte("ScaleY", f.scaleY);
    f.mirrorX = ReadByte("MirrorX", f.mirrorX);
    f.mirrorY = ReadByte("MirrorY", f.mirrorY);
    f.offsetX = ReadSettingDword("OffsetX", f.offsetX);
    f.offsetY = ReadSettingDword("OffsetY", f.offsetY);

    // Clamps in this order, all unsigned: a negative stored value is a huge one.
    ClampFrameSize(f);
    if (f.scaleX >= 3) f.scaleX = 3;
    if (f.scaleY >= 3) f.scaleY = 3;
    if (f.mirrorX >= 1) f.mirrorX = 1;
    if (f.mirrorY >= 1) f.mirrorY = 1;
    if (f.offsetX >= OFFSET_X_MAX) f.offsetX = OFFSET_X_MAX;
    if (f.offsetY >= OFFSET_Y_MAX) f.offsetY = OFFSET_Y_MAX;
}

void ClampFrameSize(FormatParams &f)
{
    if (f.width >= FRAME_WIDTH_MAX) f.width = FRAME_WIDTH_MAX;
    if (f.width <= FRAME_WIDTH_MIN) f.width = FRAME_WIDTH_MIN;
    f.width &= ~3u;
    if (f.height >= FRAME_HEIGHT_MAX) f.height = FRAME_HEIGHT_MAX;
    if (f.height <= FRAME_HEIGHT_MIN) f.height = FRAME_HEIGHT_MIN;
}

void SaveFormatParams(const FormatParams &f)
{
    WriteSettingDword("Format", f.formatCode);
    WriteSettingDword("Width", f.width);
    WriteSettingDword("Height", f.height);
    WriteSettingDword("ScaleX", f.scaleX);
    WriteSettingDword("ScaleY", f.scaleY);
    WriteSettingDword("MirrorX", f.mirrorX);
    WriteSettingDword("MirrorY", f.mirrorY);
    WriteSettingDword("OffsetX", f.offsetX);
    WriteSettingDword("OffsetY", f.offsetY);
}

void SetDefaultSourceParams(SourceParams &s)
{
    s.standard = 0;
    s.hue = 0;
    s.saturation = 64;
    s.brightness = 128;
    s.contrast = 64;
}

void LoadSourceParams(SourceParams &s)
{
    DWORD standard = ReadSettingDword("Source", s.standard);
    s.standard = standard == 1 || standard == 2 || standard == 3 || standard == 5 ? standard : 0;
    s.hue = ReadSignedByte("Hue", s.hue);
    s.saturation = ReadSignedByte("Saturation", s.saturation);
    s.brightness = ReadByte("Brightness", s.brightness);
    s.contrast = ReadSignedByte("Contrast", s.contrast);
}

void SaveSourceParams(const SourceParams &s)
{
    WriteSettingDword("Source", s.standard);
    WriteSignedByte("Hue", s.hue);
    WriteSignedByte("Saturation", s.saturation);
    WriteSettingDword("Brightness", s.brightness);
    WriteSignedByte("Contrast", s.contrast);
}
