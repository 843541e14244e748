#include "pictures/picture_thumbnail.h"

#include <algorithm>
#include <cstdint>

namespace skarvel {

ThumbnailPlacement ComputeThumbnail(int W, int H, int S) {
    ThumbnailPlacement t;
    if (W <= 0 || H <= 0 || S <= 0)
        return t;
    if (W > H) {
        t.width = S;
        t.height = static_cast<int>(std::max<std::int64_t>(2, std::int64_t{S} * H / W));
        t.top = (S - t.height) / 2;
    } else {
        t.height = S;
        t.width = static_cast<int>(std::max<std::int64_t>(2, std::int64_t{S} * W / H));
        t.left = (S - t.width) / 2;
    }
    return t;
}

Rgb24Image MakeThumbnail(const Rgb24Image& picture, int S) {
    Rgb24Image thumbnail;
    if (picture.isEmpty())
        return thumbnail;
    const ThumbnailPlacement t = ComputeThumbnail(picture.width, picture.height, S);
    if (t.width <= 0 || t.height <= 0)
        return thumbnail;
    thumbnail.resize(t.width, t.height);
    if (!ResizeNearest(picture, thumbnail))
        return {};
    return thumbnail;
}

} // namespace skarvel
