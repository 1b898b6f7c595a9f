// The kernel device: its name from the service's "Parameters" key, the open,
// the three device-control requests and the close.
#include "device.h"

// Reads "DeviceName" into the buffer; a value that does not fit is no name.
static BOOL ReadDeviceName(char *buffer, DWORD size)
{
    static const char ParametersKey[] =
        "SYSTEM\\CurrentControlSet\\Services\\" KERNEL_SERVICE_NAME "\\" "Parameters";
    HKEY key;
    DWORD type = 0, length = size;
    ZeroMemory(buffer, size);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return FALSE;
    LONG error = RegQueryValueExA(key, "DeviceName", NULL, &type, reinterpret_cast<BYTE *>(buffer), &length);
    RegCloseKey(key);
    // A value that fills the buffer without its terminator does not fit either.
    if (error != ERROR_SUCCESS || type != REG_SZ || buffer[size - 1] != '\0') {
        ZeroMemory(buffer, size);
        return FALSE;
    }
    return TRUE;
}

HANDLE OpenCaptureDevice()
{
    char name[22], path[4 + sizeof name] = "\\\\.\\";
    if (!ReadDeviceName(name, sizeof name)) {
        // Not registered: no device call, and no stale refusal code either.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    lstrcatA(path, name);
    return CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
}

void CloseDeviceHandle(HANDLE device)
{
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
}

static BOOL SendRequest(HANDLE device, DWORD code, const void *input, DWORD length)
{
    DWORD returned;
    return DeviceIoControl(device, code, const_cast<void *>(input), length, NULL, 0, &returned, NULL);
}

BOOL SendFormatParams(HANDLE device, const FormatParams *format)
{
    return SendRequest(device, IOCTL_SET_FORMAT, format, format->size);
}

BOOL SendSourceParams(HANDLE device, const SourceParams *source)
{
    return SendRequest(device, IOCTL_SET_SOURCE, source, source->size);
}

BOOL RestartVideo(HANDLE device)
{
    return SendRequest(device, IOCTL_RESTART_VIDEO, NULL, 0);
}
