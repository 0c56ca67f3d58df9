// Guards for the files a run writes. The directory entry of the input image
// is never replaced (a dump named like the photo would otherwise delete it),
// and a file that could not be written completely is removed instead of
// being left behind as if it were whole.
#pragma once

#include <cstdio>

namespace tavrel {

// Registers the entry named by path, and the entry it finally resolves to
// through symbolic links, as entries that no created file may replace.
void protectFileEntry(const char* path);
void clearProtectedFileEntries();

// True when path names a registered entry: the same folder (by device and
// inode, however it is spelled or reached) and the same file name. Another
// hard link or a symbolic link to the same file is a different entry.
bool isProtectedFileEntry(const char* path);

// Flushes and closes a file that was written, and checks that every write
// reached it. On any failure the file is removed, a message names it, and
// the result is 0; otherwise 1. The stream is closed either way.
int finishWrittenFile(std::FILE* file, const char* path);

}  // namespace tavrel
