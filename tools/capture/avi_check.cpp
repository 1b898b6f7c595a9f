// The read-back check of a written file, through its indexes, with plain
// file reads: the system's AVIFile reads only AVI 1.0, and Wine's stops at
// 2 GiB.
#include <cstdio>
#include <vector>
#include "avi_check.h"
#include "avi_layout.h"

struct Reader {
    HANDLE file;
    ULONGLONG size;
};

static bool ReadAt(const Reader &r, ULONGLONG offset, void *data, DWORD bytes)
{
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD got = 0;
    SetLastError(NO_ERROR);
    if (SetFilePointer(r.file, static_cast<LONG>(offset), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    return ReadFile(r.file, data, bytes, &got, NULL) && got == bytes;
}

// What the headers say and where the indexes are.
struct Layout {
    ULONGLONG movi;                 // the first 'movi' list
    ULONGLONG idx1, idx1Bytes;      // 0 when there is none
    ULONGLONG indx;                 // the super index's chunk, 0 when there is none
    DWORD mainFrames, streamFrames, extendedFrames, chunkId;
};

// Walks the chunks from `at` to `end`, into the lists, for the records it knows.
static bool Walk(const Reader &r, ULONGLONG at, ULONGLONG end, Layout &l)
{
    while (at + 8 <= end) {
        ChunkHeader chunk;
        if (!ReadAt(r, at, &chunk, sizeof chunk))
            return false;
        ULONGLONG next = at + 8 + chunk.size + (chunk.size & 1);
        if (chunk.id == Fourcc("LIST")) {
            DWORD type;
            if (!ReadAt(r, at + 8, &type, sizeof type))
                return false;
            if (type == Fourcc("movi"))
                l.movi = at;
            else if (!Walk(r, at + 12, next, l))
                return false;
        } else if (chunk.id == Fourcc("avih")) {
            if (!ReadAt(r, at + 8 + offsetof(MainHeader, totalFrames), &l.mainFrames, sizeof l.mainFrames))
                return false;
        } else if (chunk.id == Fourcc("strh")) {
            if (!ReadAt(r, at + 8 + offsetof(StreamHeader, length), &l.streamFrames, sizeof l.streamFrames))
                return false;
        } else if (chunk.id == Fourcc("strf")) {
            DWORD compression;
            if (!ReadAt(r, at + 8 + offsetof(BITMAPINFOHEADER, biCompression), &compression, sizeof compression))
                return false;
            l.chunkId = Fourcc(compression == BI_RGB ? "00db" : "00dc");
        } else if (chunk.id == Fourcc("dmlh")) {
            if (!ReadAt(r, at + 8, &l.extendedFrames, sizeof l.extendedFrames))
                return false;
        } else if (chunk.id == Fourcc("indx")) {
            l.indx = at;
        } else if (chunk.id == Fourcc("idx1")) {
            l.idx1 = at + 8;
            l.idx1Bytes = chunk.size;
        }
        at = next;
    }
    return true;
}

// The RIFF parts, 'AVI ' then 'AVIX', each within the file and holding its
// 'movi' list, the last ending where the file ends; their number, or -1.
static long CheckParts(const Reader &r)
{
    long parts = 0;
    for (ULONGLONG at = 0; at < r.size; parts++) {
        ListHeader riff, movi;
        if (!ReadAt(r, at, &riff, sizeof riff) || riff.id != Fourcc("RIFF") || riff.type != Fourcc(parts ? "AVIX" : "AVI "))
            return -1;
        const ULONGLONG end = at + 8 + riff.size;
        if (end > r.size)
            return -1;
        if (parts && (!ReadAt(r, at + 12, &movi, sizeof movi) || movi.id != Fourcc("LIST") ||
                      movi.type != Fourcc("movi") || at + 20 + movi.size > end))
            return -1;
        at = end + (riff.size & 1);
    }
    return parts;
}

// The frame chunk that an index entry names: its id and size.
static bool ChunkIs(const Reader &r, ULONGLONG at, DWORD id, DWORD size)
{
    ChunkHeader chunk;
    return at + 8 + size <= r.size && ReadAt(r, at, &chunk, sizeof chunk) && chunk.id == id && chunk.size == size;
}

// The frames that the super index's standard indexes list, and their number
// (`parts`); -1 on a wrong entry.
static long long CheckStdIndexes(const Reader &r, const Layout &l, long &parts)
{
    IndexHeader super;
    if (!ReadAt(r, l.indx + 8, &super, sizeof super) || super.longsPerEntry != 4 || super.type != INDEX_OF_INDEXES)
        return -1;
    long long frames = 0;
    parts = static_cast<long>(super.entriesInUse);
    for (DWORD p = 0; p < super.entriesInUse; p++) {
        SuperIndexEntry part;
        ChunkHeader chunk;
        StdIndexHead ix;
        if (!ReadAt(r, l.indx + 8 + sizeof(SuperIndexHead) + p * sizeof part, &part, sizeof part) ||
            !ReadAt(r, part.offset, &chunk, sizeof chunk) || chunk.id != Fourcc("ix00") ||
            !ReadAt(r, part.offset + 8, &ix, sizeof ix) || ix.head.longsPerEntry != 2 ||
            ix.head.type != INDEX_OF_CHUNKS || ix.head.chunkId != l.chunkId || ix.head.entriesInUse != part.duration)
            return -1;
        std::vector<StdIndexEntry> entries(ix.head.entriesInUse);
        if (!entries.empty() && !ReadAt(r, part.offset + 8 + sizeof ix, entries.data(),
                                        static_cast<DWORD>(entries.size() * sizeof entries[0])))
            return -1;
        for (const StdIndexEntry &e : entries)
            if (!ChunkIs(r, ix.base + e.offset - 8, l.chunkId, e.size & ~STDINDEX_DELTAFRAME))
                return -1;
        frames += entries.size();
    }
    return frames;
}

static long long CheckOldIndex(const Reader &r, const Layout &l)
{
    std::vector<OldIndexEntry> entries(static_cast<size_t>(l.idx1Bytes / sizeof(OldIndexEntry)));
    if (!entries.empty() &&
        !ReadAt(r, l.idx1, entries.data(), static_cast<DWORD>(entries.size() * sizeof entries[0])))
        return -1;
    for (const OldIndexEntry &e : entries)
        if (e.id != l.chunkId || !ChunkIs(r, l.movi + 8 + e.offset, l.chunkId, e.size))
            return -1;
    return static_cast<long long>(entries.size());
}

bool CheckAvi(const std::string &path, DWORD frames)
{
    Reader r = {CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL), 0};
    if (r.file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "\ncapture: cannot read back %s (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    DWORD high = 0, low = GetFileSize(r.file, &high);
    r.size = static_cast<ULONGLONG>(high) << 32 | low;
    Layout l = {};
    ListHeader riff;
    long long indexed = -1, first = -1;
    long indexedParts = 1;
    if (ReadAt(r, 0, &riff, sizeof riff) && riff.id == Fourcc("RIFF") && riff.type == Fourcc("AVI ") &&
        Walk(r, 12, 8ull + riff.size, l) && l.movi && l.idx1) {
        first = CheckOldIndex(r, l);
        indexed = l.indx ? CheckStdIndexes(r, l, indexedParts) : first;
    }
    // Every part indexed, and the counts of the whole file where OpenDML keeps them.
    long parts = CheckParts(r);
    CloseHandle(r.file);
    bool whole = indexed == frames && l.streamFrames == frames && first == l.mainFrames && parts == indexedParts &&
                 (!l.indx || l.extendedFrames == frames);
    if (!whole)
        std::fprintf(stderr, "\ncapture: %s reads back %lld of the %lu frames written to it\n", path.c_str(),
                     indexed < 0 ? 0 : indexed, frames);
    return whole;
}
