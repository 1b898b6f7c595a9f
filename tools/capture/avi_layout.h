// The records of an AVI file as the recording writes it: AVI 1.0 (one RIFF
// 'AVI ' with an 'idx1'), and its OpenDML extension (a super index 'indx' in
// the stream's header, 'AVIX' parts after the first, and a standard index
// 'ix00' at the end of each part's 'movi' list). They are spelled out with
// their byte layouts, checked below, rather than taken from aviriff.h, whose
// 64-bit members lie wherever the compiler's alignment puts them.
#ifndef CAPTURE_AVI_LAYOUT_H
#define CAPTURE_AVI_LAYOUT_H

#include <cstddef>
#include <windows.h>
#include <vfw.h>

// A four-character code as it lies in the file.
constexpr DWORD Fourcc(const char (&c)[5])
{
    return static_cast<DWORD>(static_cast<BYTE>(c[0])) | static_cast<DWORD>(static_cast<BYTE>(c[1])) << 8 |
           static_cast<DWORD>(static_cast<BYTE>(c[2])) << 16 | static_cast<DWORD>(static_cast<BYTE>(c[3])) << 24;
}

const BYTE INDEX_OF_INDEXES = 0, INDEX_OF_CHUNKS = 1;
const DWORD STDINDEX_DELTAFRAME = 0x80000000u; // in an 'ix00' entry's size: not a key frame

#pragma pack(push, 1)
struct ChunkHeader {
    DWORD id, size;
};

struct ListHeader {
    DWORD id, size, type; // 'RIFF' or 'LIST', what follows the id, 'AVI ' / 'hdrl' / 'movi' ...
};

// 'avih'
struct MainHeader {
    DWORD microSecPerFrame, maxBytesPerSec, paddingGranularity, flags, totalFrames, initialFrames, streams,
        suggestedBufferSize, width, height, reserved[4];
};

// 'strh'
struct StreamHeader {
    DWORD type, handler, flags;
    WORD priority, language;
    DWORD initialFrames, scale, rate, start, length, suggestedBufferSize, quality, sampleSize;
    short frame[4]; // left, top, right, bottom
};

// 'dmlh': the frames of the whole file.
struct ExtendedHeader {
    DWORD totalFrames, future[61];
};

// One 'idx1' entry; the offset counts from the 'movi' list's type.
struct OldIndexEntry {
    DWORD id, flags, offset, size;
};

// The head of an 'indx' or 'ix00' record, after its chunk header.
struct IndexHeader {
    WORD longsPerEntry;
    BYTE subType, type;
    DWORD entriesInUse, chunkId;
};

// 'indx' begins with this, then its entries.
struct SuperIndexHead {
    IndexHeader head;
    DWORD reserved[3];
};

// 'ix00' begins with this; its entries count from `base`, to a chunk's data.
struct StdIndexHead {
    IndexHeader head;
    ULONGLONG base;
    DWORD reserved;
};

// 'indx': one entry for each part's standard index.
struct SuperIndexEntry {
    ULONGLONG offset; // of the 'ix00' chunk, from the start of the file
    DWORD size;       // of the chunk, its header included
    DWORD duration;   // frames it indexes
};

struct StdIndexEntry {
    DWORD offset, size;
};
#pragma pack(pop)

static_assert(sizeof(ChunkHeader) == 8 && sizeof(ListHeader) == 12, "RIFF headers");
static_assert(sizeof(MainHeader) == 56 && offsetof(MainHeader, totalFrames) == 16, "avih");
static_assert(sizeof(StreamHeader) == 56 && offsetof(StreamHeader, length) == 32, "strh");
static_assert(sizeof(ExtendedHeader) == 248, "dmlh");
static_assert(sizeof(OldIndexEntry) == 16, "idx1 entry");
static_assert(sizeof(IndexHeader) == 12, "index head");
static_assert(sizeof(SuperIndexHead) == 24 && sizeof(StdIndexHead) == 24 && offsetof(StdIndexHead, base) == 12,
              "index heads");
static_assert(sizeof(SuperIndexEntry) == 16 && offsetof(SuperIndexEntry, duration) == 12, "indx entry");
static_assert(sizeof(StdIndexEntry) == 8, "ix00 entry");

#endif
