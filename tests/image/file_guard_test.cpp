#include "image/file_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace tavrel {
namespace {

TEST(FileGuardTest, AWriteThatFailsRemovesTheFileAndSaysSo) {
  // Writes to /dev/full fail with "no space" once the stream is flushed.
  test::TempDir dir;
  const std::string path = dir.file("dump2_out.ppm");
  test::writeFile(path, "partial");
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::fputs("P6\n1 1\n255\n", full);
  test::CapturedConsole console;
  EXPECT_EQ(finishWrittenFile(full, path.c_str()), 0);
  EXPECT_EQ(console.err(),
            "ERROR: Could not write " + path + " completely; the incomplete file was removed.\n");
  EXPECT_FALSE(test::fileExistsOnDisk(path));
}

TEST(FileGuardTest, ACompleteWriteKeepsTheFile) {
  test::TempDir dir;
  const std::string path = dir.file("dump2_out.ppm");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("P6\n1 1\n255\nabc", file);
  test::CapturedConsole console;
  EXPECT_EQ(finishWrittenFile(file, path.c_str()), 1);
  EXPECT_EQ(console.err(), "");
  EXPECT_EQ(test::readFile(path), "P6\n1 1\n255\nabc");
}

TEST(FileGuardTest, ProtectedEntriesAreFoundHoweverTheFolderIsSpelled) {
  test::TempDir dir;
  test::writeFile(dir.file("photo.ppm"), "x");
  ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("here").c_str()), 0);
  protectFileEntry(dir.file("photo.ppm").c_str());
  EXPECT_TRUE(isProtectedFileEntry(dir.file("photo.ppm").c_str()));
  EXPECT_TRUE(isProtectedFileEntry((dir.path() + "/./photo.ppm").c_str()));
  EXPECT_TRUE(isProtectedFileEntry(dir.file("here/photo.ppm").c_str()));
  EXPECT_FALSE(isProtectedFileEntry(dir.file("photo.PPM").c_str()));
  EXPECT_FALSE(isProtectedFileEntry(dir.file("other.ppm").c_str()));
  clearProtectedFileEntries();
  EXPECT_FALSE(isProtectedFileEntry(dir.file("photo.ppm").c_str()));
}

}  // namespace
}  // namespace tavrel
