#include "image/file_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/console.h"

namespace tavrel {
namespace {

struct Entry {
  dev_t device;
  ino_t folder;
  std::string name;
};

std::vector<Entry> gProtected;

// Splits a path into its folder and its last component, and identifies the
// folder by device and inode so that ./a, a and link-to-here/a compare equal.
bool entryOf(const char* path, Entry* entry) {
  const std::string text = path;
  const std::size_t slash = text.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : text.substr(0, slash);
  if (folder.empty()) folder.assign(1, '/');  // a file in the root folder
  entry->name = slash == std::string::npos ? text : text.substr(slash + 1);
  if (entry->name.empty() || entry->name == "." || entry->name == "..") return false;
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0) return false;
  entry->device = info.st_dev;
  entry->folder = info.st_ino;
  return true;
}

}  // namespace

void protectFileEntry(const char* path) {
  Entry entry;
  if (entryOf(path, &entry)) gProtected.push_back(entry);
  // A symbolic link as input: the file it leads to is the photo itself.
  if (char* resolved = ::realpath(path, nullptr)) {
    if (entryOf(resolved, &entry)) gProtected.push_back(entry);
    std::free(resolved);
  }
}

void clearProtectedFileEntries() {
  gProtected.clear();
}

bool isProtectedFileEntry(const char* path) {
  if (gProtected.empty()) return false;
  Entry entry;
  if (!entryOf(path, &entry)) return false;
  for (const Entry& p : gProtected) {
    if (p.device == entry.device && p.folder == entry.folder && p.name == entry.name) return true;
  }
  return false;
}

int finishWrittenFile(std::FILE* file, const char* path) {
  const bool written = std::fflush(file) == 0 && !std::ferror(file);
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return 1;
  ::unlink(path);
  errorLog("ERROR: Could not write %s completely; the incomplete file was removed.\n", path);
  return 0;
}

}  // namespace tavrel
