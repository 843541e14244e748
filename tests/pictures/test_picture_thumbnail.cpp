// Thumbnail geometry of the picture grid and the thumbnail pixels.
#include "pictures/picture_thumbnail.h"
#include "tests/pictures/picture_test_tools.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace skarvel;

namespace {

TEST(Thumbnail, PlacementInTheCell) {
    const struct {
        const char* name;
        int W, H, S;
        ThumbnailPlacement expected;
    } cases[] = {
        {"landscape 400 x 100 is centred vertically", 400, 100, 100, {100, 25, 0, 37}},
        {"portrait 100 x 400 is centred horizontally", 100, 400, 100, {25, 100, 37, 0}},
        {"1 x 1000 keeps the minimum width of 2", 1, 1000, 100, {2, 100, 49, 0}},
        {"1000 x 1 keeps the minimum height of 2", 1000, 1, 100, {100, 2, 0, 49}},
        {"a square fills the cell", 300, 300, 100, {100, 100, 0, 0}},
        {"a small square is enlarged", 7, 7, 100, {100, 100, 0, 0}},
        {"nearly square rounds down", 101, 100, 100, {100, 99, 0, 0}},
        {"other cell size", 640, 480, 50, {50, 37, 0, 6}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComputeThumbnail(c.W, c.H, c.S), c.expected) << c.name;
}

TEST(Thumbnail, PixelsAreTheNearestNeighbourScaledPicture) {
    const Rgb24Image picture = test::makePhotoLike(400, 100, 2);
    const Rgb24Image thumb = MakeThumbnail(picture);
    ASSERT_EQ(thumb.width, 100);
    ASSERT_EQ(thumb.height, 25);
    EXPECT_EQ(0, std::memcmp(thumb.pixel(0, 0), picture.pixel(0, 0), 3));
    EXPECT_EQ(0, std::memcmp(thumb.pixel(99, 24), picture.pixel(399, 99), 3));
    // Column 50 takes source column 50 * 399 / 99 = 201, row 12 source row 12 * 99 / 24 = 49.
    EXPECT_EQ(0, std::memcmp(thumb.pixel(50, 12), picture.pixel(201, 49), 3));

    const Rgb24Image needle = MakeThumbnail(test::makePhotoLike(1, 1000, 3));
    EXPECT_EQ(needle.width, 2);
    EXPECT_EQ(needle.height, 100);
    EXPECT_TRUE(MakeThumbnail(Rgb24Image{}).isEmpty());
}

} // namespace
