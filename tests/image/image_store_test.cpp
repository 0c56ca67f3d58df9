#include "image/image_store.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tavrel {
namespace {

TEST(ImageStoreSmoke, MemoryColorCopyRoundTrip) {
  test::TempDir dir;
  ImageBuffer image;
  setImageSize(&image, 3, 2);
  ASSERT_EQ(openImage("", &image, Create, 0, WholeImage, Color, 0, 256), 1);
  setColorPixel(&image, 1, 1, 0x010203);
  setColorPixel(&image, 3, 2, 0x0A0B0C);
  EXPECT_EQ(getColorPixel(&image, 1, 1), 0x010203u);
  EXPECT_EQ(getColorPixel(&image, 2, 1), 0xFFFFFFu);
  const std::string path = dir.file("a.ppm");
  EXPECT_EQ(copyImageToFile(&image, path.c_str()), 1);
  std::string expected =
      test::makePpm(3, 2, {0x010203, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0x0A0B0C});
  EXPECT_EQ(test::readFile(path), expected);
  destroyImage(&image);

  ImageBuffer input;
  ASSERT_EQ(openImage(path.c_str(), &input, Read, 0, WholeImage, Color, 1, 256), 1);
  EXPECT_EQ(input.width, 3u);
  EXPECT_EQ(input.height, 2u);
  EXPECT_EQ(getColorPixel(&input, 3, 2), 0x0A0B0Cu);
  destroyImage(&input);
}

}  // namespace
}  // namespace tavrel
