// Segmented AVI output through AVIFile; every call's result is checked, and
// a file is read back after it is closed.
#include <cstdio>
#include <cstring>
#include "segments.h"

// Room kept for what AVIFile writes beside the chunks: its headers, and the
// index of 16 bytes a frame that it writes when the file is closed.
static const ULONGLONG HeaderBytes = 64 * 1024, IndexEntryBytes = 16, ChunkHeaderBytes = 8;

// The system's text for `error` (a Win32 code), or the AVIFile code's name.
static std::string ErrorText(HRESULT result, DWORD error)
{
    char text[256] = "";
    if (error && FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                                sizeof text, NULL)) {
        for (size_t n = strlen(text); n && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'); n--)
            text[n - 1] = '\0';
        return text;
    }
    const char *name = result == AVIERR_FILEWRITE ? "the file cannot be written"
                     : result == AVIERR_BADPARAM ? "AVIFile refused the frame"
                     : result == AVIERR_FILEOPEN ? "the file cannot be opened"
                     : result == AVIERR_MEMORY ? "out of memory"
                     : result == AVIERR_BADFORMAT ? "AVIFile does not accept this format"
                     : "AVIFile failed";
    std::snprintf(text, sizeof text, "%s (0x%08lX)", name, static_cast<unsigned long>(result));
    return text;
}

static bool Fail(const char *what, const std::string &path, HRESULT result, DWORD error)
{
    std::fprintf(stderr, "\ncapture: %s %s: %s\n", what, path.c_str(), ErrorText(result, error).c_str());
    return false;
}

static bool OpenSegment(AviSegments &s)
{
    char number[8] = "";
    if (!s.paths.empty())
        std::snprintf(number, sizeof number, ".%03u", static_cast<unsigned>(s.paths.size()));
    s.paths.push_back(s.stem + number + s.extension);
    const std::string &path = s.paths.back();
    s.position = 0;
    s.dataBytes = 0;
    HRESULT result = AVIFileOpenA(&s.file, path.c_str(), OF_CREATE | OF_WRITE, NULL);
    if (result != AVIERR_OK) {
        s.file = NULL;
        Fail("cannot create", path, result, GetLastError());
        s.paths.pop_back(); // nothing of it exists
        return false;
    }
    AVISTREAMINFOA info = {};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = s.header.biCompression == BI_RGB ? mmioFOURCC('D', 'I', 'B', ' ') : s.header.biCompression;
    info.dwRate = s.rate;
    info.dwScale = s.scale;
    info.dwSuggestedBufferSize = s.header.biSizeImage;
    SetRect(&info.rcFrame, 0, 0, s.header.biWidth, s.header.biHeight);
    lstrcpyA(info.szName, "Brightvane 7K42Q VideoIn");
    result = AVIFileCreateStreamA(s.file, &s.stream, &info);
    if (result != AVIERR_OK) {
        s.stream = NULL;
        return Fail("cannot add a video stream to", path, result, GetLastError());
    }
    result = AVIStreamSetFormat(s.stream, 0, &s.header, sizeof s.header);
    if (result != AVIERR_OK)
        return Fail("cannot set the video format of", path, result, GetLastError());
    if (s.paths.size() > 1)
        std::printf("\ncapture: continuing in %s\n", path.c_str());
    return true;
}

// Closes the open file, then opens it again to see that every frame is there.
static bool CloseSegment(AviSegments &s)
{
    if (!s.file)
        return false;
    const std::string &path = s.paths.back();
    if (s.stream)
        AVIStreamRelease(s.stream);
    AVIFileRelease(s.file); // the last release writes the index
    bool whole = s.stream != NULL;
    s.stream = NULL;
    s.file = NULL;
    if (!whole)
        return false;
    PAVIFILE file;
    HRESULT result = AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, NULL);
    if (result != AVIERR_OK)
        return Fail("cannot read back", path, result, GetLastError());
    PAVISTREAM stream;
    LONG frames = -1;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK) {
        frames = AVIStreamLength(stream);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    if (frames != s.position) {
        std::fprintf(stderr, "\ncapture: %s reads back %ld of the %ld frames written to it\n", path.c_str(), frames,
                     s.position);
        return false;
    }
    return true;
}

bool StartSegments(AviSegments &s, const char *path, ULONGLONG limitBytes, const BITMAPINFOHEADER &h,
                   DWORD rate, DWORD scale)
{
    std::string name = path;
    size_t dot = name.find_last_of('.'), folder = name.find_last_of("\\/");
    bool hasExtension = dot != std::string::npos && (folder == std::string::npos || dot > folder);
    s.stem = hasExtension ? name.substr(0, dot) : name;
    s.extension = hasExtension ? name.substr(dot) : "";
    s.limitBytes = limitBytes;
    s.header = h;
    s.rate = rate;
    s.scale = scale;
    s.paths.clear();
    s.file = NULL;
    s.stream = NULL;
    if (HeaderBytes + ChunkHeaderBytes + h.biSizeImage + IndexEntryBytes > limitBytes) {
        std::fprintf(stderr, "capture: a segment of %llu bytes cannot hold one frame of %lu bytes\n", limitBytes,
                     h.biSizeImage);
        return false;
    }
    return OpenSegment(s);
}

// Free space for one more chunk, and for the index that closing the file writes.
static bool DiskHasRoom(const AviSegments &s, ULONGLONG chunk)
{
    std::string folder = s.stem.substr(0, s.stem.find_last_of("\\/") + 1);
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(folder.empty() ? NULL : folder.c_str(), &available, &total, &free))
        return true; // not known: the write itself tells
    ULONGLONG needed = chunk + IndexEntryBytes * (s.position + 1) + HeaderBytes;
    if (available.QuadPart >= needed)
        return true;
    std::fprintf(stderr, "\ncapture: the disk holding %s is full (%llu bytes free)\n", s.paths.back().c_str(),
                 available.QuadPart);
    return false;
}

bool WriteSegmentFrame(AviSegments &s, const void *data, DWORD bytes)
{
    ULONGLONG chunk = ChunkHeaderBytes + bytes + (bytes & 1);
    ULONGLONG size = HeaderBytes + s.dataBytes + chunk + IndexEntryBytes * (s.position + 1);
    if (size > s.limitBytes && s.position > 0 && !(CloseSegment(s) && OpenSegment(s)))
        return false;
    if (!DiskHasRoom(s, chunk))
        return false;
    // An empty frame still names a buffer: AVIFile refuses a null one.
    static BYTE nothing;
    SetLastError(0);
    HRESULT result = AVIStreamWrite(s.stream, s.position, 1, bytes ? const_cast<void *>(data) : &nothing,
                                    static_cast<LONG>(bytes), bytes ? AVIIF_KEYFRAME : 0, NULL, NULL);
    if (result != AVIERR_OK) {
        char what[48];
        std::snprintf(what, sizeof what, "cannot write frame %ld to", s.position);
        return Fail(what, s.paths.back(), result, GetLastError());
    }
    s.position++;
    s.dataBytes += chunk;
    return true;
}

bool CloseSegments(AviSegments &s)
{
    return s.paths.empty() || CloseSegment(s);
}
