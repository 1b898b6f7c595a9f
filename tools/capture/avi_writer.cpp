// The AVI writer: frames are appended with WriteFile; the headers' counts,
// the lists' sizes and the indexes are written when a part ends and when
// the file is closed, so that a recording killed in a part loses that part
// only. Every write is checked; one that fails or falls short is cut off
// the file again, which ends with its last whole chunk.
#include <cstdio>
#include <cstring>
#include "avi_writer.h"

static bool Fail(const AviWriter &w, const char *what)
{
    DWORD error = GetLastError();
    char text[256] = "";
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                        sizeof text, NULL))
        std::snprintf(text, sizeof text, "error %lu", error);
    for (size_t n = std::strlen(text); n && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'); n--)
        text[n - 1] = '\0';
    std::fprintf(stderr, "\ncapture: %s %s: %s\n", what, w.path.c_str(), text);
    return false;
}

static bool Seek(HANDLE file, ULONGLONG offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

// The file ends at `at` again: what a failed write left after it goes.
static void CutBack(AviWriter &w, ULONGLONG at)
{
    if (Seek(w.file, at))
        SetEndOfFile(w.file);
    w.end = at;
}

static bool Append(AviWriter &w, const void *data, DWORD bytes)
{
    DWORD written = 0;
    bool ok = WriteFile(w.file, data, bytes, &written, NULL) != FALSE;
    if (ok && written != bytes) {
        SetLastError(ERROR_DISK_FULL);
        ok = false;
    }
    if (!ok) {
        DWORD error = GetLastError();
        CutBack(w, w.end);
        SetLastError(error);
        return Fail(w, "cannot write to");
    }
    w.end += bytes;
    return true;
}

static bool AppendChunk(AviWriter &w, DWORD id, const void *data, DWORD bytes)
{
    ChunkHeader head = {id, bytes};
    static const BYTE pad = 0;
    const ULONGLONG start = w.end;
    if (Append(w, &head, sizeof head) && (!bytes || Append(w, data, bytes)) && (!(bytes & 1) || Append(w, &pad, 1)))
        return true;
    CutBack(w, start); // no chunk header that claims bytes that never came
    return false;
}

static bool AppendList(AviWriter &w, DWORD id, DWORD type)
{
    ListHeader head = {id, 0, type}; // the size is written when the list ends
    return Append(w, &head, sizeof head);
}

// Overwrites `bytes` at `offset`, then goes back to the end.
static bool Patch(AviWriter &w, ULONGLONG offset, const void *data, DWORD bytes)
{
    DWORD written = 0;
    if (!Seek(w.file, offset) || !WriteFile(w.file, data, bytes, &written, NULL) || written != bytes ||
        !Seek(w.file, w.end))
        return Fail(w, "cannot complete");
    return true;
}

// A list's size: what follows its id, up to the end of the file.
static bool EndList(AviWriter &w, ULONGLONG list)
{
    DWORD size = static_cast<DWORD>(w.end - list - 8);
    return Patch(w, list + 4, &size, sizeof size);
}

static bool StartPart(AviWriter &w)
{
    w.riff = w.end;
    w.partIndex.clear();
    if (!AppendList(w, Fourcc("RIFF"), Fourcc("AVIX")))
        return false;
    w.movi = w.end;
    return AppendList(w, Fourcc("LIST"), Fourcc("movi"));
}

// The counts, rate and super index as of the parts ended so far: avih
// counts the first part (what an AVI 1.0 reader plays), strh and dmlh the
// whole file.
static bool PatchHeaders(AviWriter &w)
{
    const DWORD period = static_cast<DWORD>(1000000ull * w.scale / w.rate),
                bytesPerSecond = static_cast<DWORD>(static_cast<ULONGLONG>(w.format.biSizeImage) * w.rate / w.scale),
                scaleAndRate[2] = {w.scale, w.rate};
    bool ok = Patch(w, w.mainAt + offsetof(MainHeader, microSecPerFrame), &period, sizeof period) &&
              Patch(w, w.mainAt + offsetof(MainHeader, maxBytesPerSec), &bytesPerSecond, sizeof bytesPerSecond) &&
              Patch(w, w.mainAt + offsetof(MainHeader, totalFrames), &w.firstPartFrames, sizeof w.firstPartFrames) &&
              Patch(w, w.streamAt + offsetof(StreamHeader, scale), scaleAndRate, sizeof scaleAndRate) &&
              Patch(w, w.streamAt + offsetof(StreamHeader, length), &w.frames, sizeof w.frames) &&
              Patch(w, w.streamAt + offsetof(StreamHeader, suggestedBufferSize), &w.largest, sizeof w.largest);
    if (ok && w.openDml) {
        DWORD used = static_cast<DWORD>(w.parts.size());
        ok = Patch(w, w.superAt + sizeof(SuperIndexHead), w.parts.data(), used * sizeof(SuperIndexEntry)) &&
             Patch(w, w.superAt + offsetof(IndexHeader, entriesInUse), &used, sizeof used) &&
             Patch(w, w.extendedAt, &w.frames, sizeof w.frames);
    }
    return ok;
}

// The open part's 'ix00' at the end of its 'movi' list, the first part's
// 'idx1' after it, the sizes of both lists, and the headers.
static bool WriteEndOfPart(AviWriter &w)
{
    if (w.openDml) {
        StdIndexHead index = {{2, 0, INDEX_OF_CHUNKS, static_cast<DWORD>(w.partIndex.size()), w.chunkId}, w.movi, 0};
        DWORD bytes = static_cast<DWORD>(sizeof index + w.partIndex.size() * sizeof(StdIndexEntry));
        SuperIndexEntry part = {w.end, bytes + 8, static_cast<DWORD>(w.partIndex.size())};
        ChunkHeader chunk = {Fourcc("ix00"), bytes};
        if (!Append(w, &chunk, sizeof chunk) || !Append(w, &index, sizeof index) ||
            (!w.partIndex.empty() &&
             !Append(w, w.partIndex.data(), static_cast<DWORD>(w.partIndex.size() * sizeof(StdIndexEntry)))))
            return false;
        w.parts.push_back(part);
    }
    if (!EndList(w, w.movi))
        return false;
    if (w.riff == 0 && !AppendChunk(w, Fourcc("idx1"), w.oldIndex.data(),
                                    static_cast<DWORD>(w.oldIndex.size() * sizeof(OldIndexEntry))))
        return false;
    return EndList(w, w.riff) && PatchHeaders(w);
}

// The end of a part, or nothing of it: what a failed write left is cut off.
static bool EndPart(AviWriter &w)
{
    const ULONGLONG start = w.end;
    const size_t parts = w.parts.size();
    if (WriteEndOfPart(w))
        return true;
    CutBack(w, start);
    w.parts.resize(parts);
    return false;
}

// The part's last frame out of the file, to make room for its indexes on a
// full disk; false when the part has none.
static bool DropLastFrame(AviWriter &w)
{
    ULONGLONG chunk;
    if (w.openDml && !w.partIndex.empty())
        chunk = w.movi + w.partIndex.back().offset - 8;
    else if (!w.openDml && !w.oldIndex.empty())
        chunk = w.movi + 8 + w.oldIndex.back().offset;
    else
        return false;
    if (w.openDml)
        w.partIndex.pop_back();
    if (w.riff == 0) {
        w.oldIndex.pop_back();
        w.firstPartFrames--;
    }
    w.frames--;
    CutBack(w, chunk);
    return true;
}

bool CreateAvi(AviWriter &w, const std::string &path, bool openDml, const BITMAPINFOHEADER &h, DWORD rate,
               DWORD scale, DWORD superSlots)
{
    w.path = path;
    w.openDml = openDml;
    w.format = h;
    w.rate = rate;
    w.scale = scale;
    w.chunkId = Fourcc(h.biCompression == BI_RGB ? "00db" : "00dc");
    w.end = 0;
    w.oldIndex.clear();
    w.partIndex.clear();
    w.parts.clear();
    w.superSlots = openDml ? superSlots : 0;
    w.frames = w.firstPartFrames = w.largest = 0;
    w.file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, NULL);
    if (w.file == INVALID_HANDLE_VALUE)
        return Fail(w, "cannot create");

    MainHeader main = {};
    main.microSecPerFrame = static_cast<DWORD>(1000000ull * scale / rate);
    main.flags = AVIF_HASINDEX | AVIF_ISINTERLEAVED | AVIF_TRUSTCKTYPE | AVIF_WASCAPTUREFILE;
    main.streams = 1;
    main.suggestedBufferSize = h.biSizeImage;
    main.width = static_cast<DWORD>(h.biWidth);
    main.height = static_cast<DWORD>(h.biHeight < 0 ? -h.biHeight : h.biHeight);
    main.maxBytesPerSec = static_cast<DWORD>(static_cast<ULONGLONG>(h.biSizeImage) * rate / scale);
    StreamHeader stream = {};
    stream.type = streamtypeVIDEO;
    stream.handler = h.biCompression == BI_RGB ? Fourcc("DIB ") : h.biCompression;
    stream.scale = scale;
    stream.rate = rate;
    stream.suggestedBufferSize = h.biSizeImage;
    stream.quality = ~0u;
    stream.frame[2] = static_cast<short>(main.width);
    stream.frame[3] = static_cast<short>(main.height);
    static const char name[] = "Brightvane 7K42Q VideoIn";

    ULONGLONG hdrl, strl, odml;
    bool ok = AppendList(w, Fourcc("RIFF"), Fourcc("AVI ")) && (hdrl = w.end, AppendList(w, Fourcc("LIST"), Fourcc("hdrl"))) &&
              (w.mainAt = w.end + 8, AppendChunk(w, Fourcc("avih"), &main, sizeof main)) &&
              (strl = w.end, AppendList(w, Fourcc("LIST"), Fourcc("strl"))) &&
              (w.streamAt = w.end + 8, AppendChunk(w, Fourcc("strh"), &stream, sizeof stream)) &&
              AppendChunk(w, Fourcc("strf"), &h, sizeof h);
    if (ok && openDml) {
        // The super index's room is written now, its entries as each part ends.
        std::vector<BYTE> indx(sizeof(SuperIndexHead) + static_cast<size_t>(superSlots) * sizeof(SuperIndexEntry));
        SuperIndexHead head = {{4, 0, INDEX_OF_INDEXES, 0, w.chunkId}, {}};
        std::memcpy(indx.data(), &head, sizeof head);
        w.superAt = w.end + 8;
        ok = AppendChunk(w, Fourcc("indx"), indx.data(), static_cast<DWORD>(indx.size()));
    }
    ok = ok && AppendChunk(w, Fourcc("strn"), name, sizeof name) && EndList(w, strl);
    if (ok && openDml) {
        ExtendedHeader extended = {};
        ok = (odml = w.end, AppendList(w, Fourcc("LIST"), Fourcc("odml"))) &&
             (w.extendedAt = w.end + 8, AppendChunk(w, Fourcc("dmlh"), &extended, sizeof extended)) &&
             EndList(w, odml);
    }
    ok = ok && EndList(w, hdrl) && (w.movi = w.end, AppendList(w, Fourcc("LIST"), Fourcc("movi")));
    w.riff = 0;
    if (!ok) {
        CloseHandle(w.file);
        w.file = INVALID_HANDLE_VALUE;
    }
    return ok;
}

ULONGLONG AviChunkBytes(DWORD bytes)
{
    return sizeof(ChunkHeader) + static_cast<ULONGLONG>(bytes) + (bytes & 1);
}

// The open part's indexes, as ending it would write them.
static ULONGLONG PartIndexBytes(const AviWriter &w, size_t extra)
{
    ULONGLONG bytes = 0;
    if (w.openDml)
        bytes += sizeof(ChunkHeader) + sizeof(StdIndexHead) + (w.partIndex.size() + extra) * sizeof(StdIndexEntry);
    if (w.riff == 0)
        bytes += sizeof(ChunkHeader) + (w.oldIndex.size() + extra) * sizeof(OldIndexEntry);
    return bytes;
}

ULONGLONG AviPendingBytes(const AviWriter &w)
{
    return PartIndexBytes(w, 0);
}

// Whether the open part is that of the super index's last slot, the spare:
// it grows past 1 GiB, as far as a RIFF part's 32-bit sizes reach.
static bool OnSpare(const AviWriter &w)
{
    return w.parts.size() + 1 >= w.superSlots;
}

// Whether the open part has room for `frames` more chunks of `bytes` in all, beside its indexes.
static bool PartHolds(const AviWriter &w, ULONGLONG bytes, size_t frames)
{
    return !w.openDml || w.end + bytes + PartIndexBytes(w, frames) - w.riff <=
                             (OnSpare(w) ? AVI_SPARE_PART_BYTES : AVI_PART_BYTES);
}

// The chunk of `bytes` just appended at `at`, in the indexes and counts.
static void IndexFrame(AviWriter &w, ULONGLONG at, DWORD bytes)
{
    DWORD key = bytes ? 0 : STDINDEX_DELTAFRAME;
    if (w.openDml)
        w.partIndex.push_back({static_cast<DWORD>(at + 8 - w.movi), bytes | key});
    if (w.riff == 0) {
        w.oldIndex.push_back({w.chunkId, bytes ? AVIIF_KEYFRAME : 0u, static_cast<DWORD>(at - w.movi - 8), bytes});
        w.firstPartFrames++;
    }
    w.frames++;
    if (bytes > w.largest)
        w.largest = bytes;
}

bool WriteAviFrame(AviWriter &w, const void *data, DWORD bytes)
{
    if (!w.partIndex.empty() && !PartHolds(w, AviChunkBytes(bytes), 1)) {
        if (OnSpare(w)) {
            std::fprintf(stderr, "\ncapture: %s is as long as its index allows (%lu parts)\n", w.path.c_str(),
                         w.superSlots);
            return false;
        }
        if (!(EndPart(w) && StartPart(w)))
            return false;
    }
    ULONGLONG at = w.end;
    if (!AppendChunk(w, w.chunkId, data, bytes))
        return false;
    IndexFrame(w, at, bytes);
    return true;
}

DWORD WriteAviEmptyFrames(AviWriter &w, DWORD count)
{
    static ChunkHeader run[AVI_EMPTY_RUN];
    DWORD written = 0;
    if (count > AVI_EMPTY_RUN || !PartHolds(w, count * sizeof(ChunkHeader), count)) {
        // More than a run, or near the part's end, they go one by one: one
        // of them may start the next part.
        while (written < count && WriteAviFrame(w, NULL, 0))
            written++;
        return written;
    }
    for (DWORD i = 0; i < count; i++)
        run[i] = {w.chunkId, 0};
    ULONGLONG at = w.end;
    if (!Append(w, run, count * sizeof(ChunkHeader)))
        return 0;
    for (; written < count; written++)
        IndexFrame(w, at + written * sizeof(ChunkHeader), 0);
    return written;
}

void SetAviRate(AviWriter &w, DWORD rate, DWORD scale)
{
    w.rate = rate;
    w.scale = scale;
}

bool CloseAvi(AviWriter &w)
{
    if (w.file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = EndPart(w);
    // A disk that filled: the last frames give up their room to the indexes.
    while (!ok && DropLastFrame(w)) {
        std::fprintf(stderr, "capture: the last frame of %s gives way to its indexes\n", w.path.c_str());
        ok = EndPart(w);
    }
    if (!CloseHandle(w.file) && ok)
        ok = Fail(w, "cannot close");
    w.file = INVALID_HANDLE_VALUE;
    return ok;
}
