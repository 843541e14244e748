#pragma once
// Geometry and pixels of the thumbnails in the picture grid.
#include "pictures/picture_codecs.h"

namespace skarvel {

// Where a thumbnail of a W x H picture sits inside a square cell of side S: landscape
// pictures (W > H) take the full width and are centred vertically, the others take the
// full height and are centred horizontally; the short side is at least 2 pixels.
struct ThumbnailPlacement {
    int width = 0;
    int height = 0;
    int left = 0; // offset from the cell's left edge
    int top = 0;  // offset from the cell's top edge

    bool operator==(const ThumbnailPlacement&) const = default;
};

// W and H must be positive; S at least 2.
ThumbnailPlacement ComputeThumbnail(int W, int H, int S = 100);

// The picture scaled by ResizeNearest to the size ComputeThumbnail gives (not the whole
// cell). An empty picture gives an empty thumbnail.
Rgb24Image MakeThumbnail(const Rgb24Image& picture, int S = 100);

} // namespace skarvel
