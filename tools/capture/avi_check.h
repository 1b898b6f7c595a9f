// Reading a written AVI file back through its own indexes: the super index
// and each part's 'ix00' where the file has them, else its 'idx1'. Every
// entry must lead to a frame chunk of its size, and the headers must count
// the frames that were written.
#ifndef CAPTURE_AVI_CHECK_H
#define CAPTURE_AVI_CHECK_H

#include <string>
#include <windows.h>

// True when the file indexes `frames` frames that are all where it says;
// else false after saying what is wrong.
bool CheckAvi(const std::string &path, DWORD frames);

#endif
