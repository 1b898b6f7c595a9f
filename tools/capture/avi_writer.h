// One AVI file of one video stream, written as capture programs write them.
// OpenDML: the first RIFF stays under 1 GiB and carries an 'idx1', so AVI 1.0
// readers play that part; 'AVIX' parts follow, each with its 'ix00', all of
// them listed in the stream's super index. AVI 1.0: one RIFF with its 'idx1'.
#ifndef CAPTURE_AVI_WRITER_H
#define CAPTURE_AVI_WRITER_H

#include <string>
#include <vector>
#include "avi_layout.h"

// The most a RIFF part holds; the part of the super index's spare slot, the
// last, holds as much as 32-bit sizes allow.
const ULONGLONG AVI_PART_BYTES = 1ull << 30, AVI_SPARE_PART_BYTES = (4ull << 30) - (16ull << 20);
// The most empty frames written at once.
const DWORD AVI_EMPTY_RUN = 512;

struct AviWriter {
    HANDLE file;
    std::string path;
    bool openDml;
    BITMAPINFOHEADER format;
    DWORD rate, scale, chunkId;
    ULONGLONG end;                      // the file's length so far
    ULONGLONG riff, movi;               // the open part's RIFF and 'movi' list headers
    std::vector<OldIndexEntry> oldIndex; // the first part's frames, for its 'idx1'
    std::vector<StdIndexEntry> partIndex; // the open part's frames, for its 'ix00'
    std::vector<SuperIndexEntry> parts; // the finished parts' 'ix00' chunks
    DWORD superSlots;                   // entries the 'indx' chunk has room for
    ULONGLONG mainAt, streamAt, superAt, extendedAt; // records completed on closing
    DWORD frames, firstPartFrames, largest;
};

// Creates the file with its headers; `superSlots` bounds the parts of an
// OpenDML file. Each call returns false after saying which file and why; a
// frame that could not be written whole is not in the file.
bool CreateAvi(AviWriter &w, const std::string &path, bool openDml, const BITMAPINFOHEADER &h, DWORD rate,
               DWORD scale, DWORD superSlots);
// One frame; `bytes` 0 writes an empty one (a dropped frame, by AVI convention).
bool WriteAviFrame(AviWriter &w, const void *data, DWORD bytes);
// `count` empty frames, at most AVI_EMPTY_RUN, in one write where the open part
// holds them all; the number written, less than `count` after a failure.
DWORD WriteAviEmptyFrames(AviWriter &w, DWORD count);
// The frame rate the headers carry from the next part's end on.
void SetAviRate(AviWriter &w, DWORD rate, DWORD scale);
// Writes the indexes, completes the headers and closes the file.
bool CloseAvi(AviWriter &w);
// What closing the file still writes: its indexes.
ULONGLONG AviPendingBytes(const AviWriter &w);
// The chunk that a frame of `bytes` takes, its header included.
ULONGLONG AviChunkBytes(DWORD bytes);

#endif
