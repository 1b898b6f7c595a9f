// The recording's files: where the next frame goes, a new segment before
// one would pass its size, room on the disk for the frame and for the
// indexes that closing still writes, and the read-back of every file once
// the recording has ended (a read-back of a whole segment would hold up the
// frames still to write).
#include <cstdio>
#include "avi_check.h"
#include "output.h"

// Room kept beside the chunks and indexes, for the headers a new file or part writes.
static const ULONGLONG SlackBytes = 64 * 1024;

// Asking the disk costs the system several requests: too many for each empty
// frame of a device that runs ahead of a slow writer, each of which makes
// the next frame wait longer. It is asked again once this much has been
// written since, or once what it had then, less what was written, nears
// what the next frame needs; a write that fails meanwhile tells the rest.
static const ULONGLONG AskEveryBytes = 1 << 20, AskWithinBytes = 16 << 20;

static ULONGLONG FreeSpace(const Output &o)
{
    std::string folder = o.stem.substr(0, o.stem.find_last_of("\\/") + 1);
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(folder.empty() ? NULL : folder.c_str(), &available, &total, &free))
        return ~0ull; // not known: the write itself tells
    return available.QuadPart;
}

static void AskFreeSpace(Output &o)
{
    o.freeBytes = FreeSpace(o);
    o.askedAt = OutputBytes(o);
}

// Whether the disk has room for `need` bytes, as far as is known.
static bool RoomFor(Output &o, ULONGLONG need)
{
    ULONGLONG bytes = OutputBytes(o), since = bytes > o.askedAt ? bytes - o.askedAt : 0;
    if (since >= AskEveryBytes || o.freeBytes < since + need + AskWithinBytes) {
        AskFreeSpace(o);
        since = 0;
    }
    return o.freeBytes >= since + need;
}

static bool OpenFile(Output &o)
{
    char number[8] = "";
    if (!o.paths.empty())
        std::snprintf(number, sizeof number, ".%03u", static_cast<unsigned>(o.paths.size()));
    std::string path = o.stem + number + o.extension;
    // An OpenDML file's super index has room for a part for each GiB the disk holds.
    ULONGLONG parts = o.freeBytes / AVI_PART_BYTES + 2;
    if (!CreateAvi(o.avi, path, o.segmentBytes == 0, o.header, o.rate, o.scale,
                   static_cast<DWORD>(parts < 256 ? 256 : parts > 65536 ? 65536 : parts)))
        return false;
    o.paths.push_back(path);
    if (o.paths.size() > 1)
        std::printf("\ncapture: continuing in %s\n", path.c_str());
    return true;
}

static bool CloseFile(Output &o)
{
    if (o.avi.file == INVALID_HANDLE_VALUE)
        return false;
    bool closed = CloseAvi(o.avi);
    o.frames.push_back(o.avi.frames); // less any that gave way to the indexes
    o.closedBytes += o.avi.end;
    return closed;
}

bool StartOutput(Output &o, const char *path, ULONGLONG segmentBytes, const BITMAPINFOHEADER &h, DWORD rate,
                 DWORD scale)
{
    std::string name = path;
    size_t dot = name.find_last_of('.'), folder = name.find_last_of("\\/");
    bool hasExtension = dot != std::string::npos && (folder == std::string::npos || dot > folder);
    o.stem = hasExtension ? name.substr(0, dot) : name;
    o.extension = hasExtension ? name.substr(dot) : "";
    o.segmentBytes = segmentBytes;
    o.header = h;
    o.rate = rate;
    o.scale = scale;
    o.paths.clear();
    o.frames.clear();
    o.avi.file = INVALID_HANDLE_VALUE;
    o.closedBytes = 0;
    AskFreeSpace(o);
    if (segmentBytes && SlackBytes + AviChunkBytes(h.biSizeImage) + sizeof(OldIndexEntry) > segmentBytes) {
        std::fprintf(stderr, "capture: a segment of %llu bytes cannot hold one frame of %lu bytes\n", segmentBytes,
                     h.biSizeImage);
        return false;
    }
    return OpenFile(o);
}

// What `count` frames of `bytes` take with their index entries, and the
// indexes that closing the file still writes.
static ULONGLONG NeedFor(const Output &o, DWORD bytes, DWORD count)
{
    return count * (AviChunkBytes(bytes) + sizeof(OldIndexEntry) + sizeof(StdIndexEntry)) + AviPendingBytes(o.avi);
}

// Whether the disk has room for `count` frames of `bytes`; false after saying so.
static bool DiskHolds(Output &o, DWORD bytes, DWORD count)
{
    if (RoomFor(o, NeedFor(o, bytes, count) + SlackBytes))
        return true;
    std::fprintf(stderr, "\ncapture: the disk holding %s is full (%llu bytes free)\n", o.paths.back().c_str(),
                 o.freeBytes);
    return false;
}

bool WriteOutputFrame(Output &o, const void *data, DWORD bytes)
{
    if (o.avi.file == INVALID_HANDLE_VALUE)
        return false;
    if (o.segmentBytes && o.avi.frames > 0 && o.avi.end + NeedFor(o, bytes, 1) > o.segmentBytes &&
        !(CloseFile(o) && OpenFile(o)))
        return false;
    return DiskHolds(o, bytes, 1) && WriteAviFrame(o.avi, data, bytes);
}

DWORD WriteOutputEmptyFrames(Output &o, DWORD count)
{
    if (o.avi.file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    if (o.segmentBytes && o.avi.end + NeedFor(o, 0, count) > o.segmentBytes) {
        // Near the segment's end they go one by one: one of them may start the next.
        while (written < count && WriteOutputFrame(o, NULL, 0))
            written++;
        return written;
    }
    return DiskHolds(o, 0, count) ? WriteAviEmptyFrames(o.avi, count) : 0;
}

void SetOutputRate(Output &o, DWORD rate, DWORD scale)
{
    o.rate = rate;
    o.scale = scale;
    if (o.avi.file != INVALID_HANDLE_VALUE)
        SetAviRate(o.avi, rate, scale);
}

bool CloseOutput(Output &o)
{
    return o.paths.empty() || CloseFile(o);
}

bool CheckOutput(const Output &o)
{
    bool whole = true;
    for (size_t i = 0; i < o.frames.size(); i++)
        whole = CheckAvi(o.paths[i], o.frames[i]) && whole;
    return whole;
}

ULONGLONG OutputBytes(const Output &o)
{
    return o.closedBytes + (o.avi.file != INVALID_HANDLE_VALUE ? o.avi.end : 0);
}
