// GIF through giflib: first frame of a file, and one-frame files with a palette.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_data_backing.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gif_lib.h>

namespace skarvel {

namespace {

constexpr const char* kFormat = "GIF";

[[noreturn]] void Fail(const std::string& what) {
    detail::ThrowPictureError(kFormat, what);
}

[[noreturn]] void FailWithCode(int code) {
    const char* text = GifErrorString(code);
    Fail(text ? text : "error " + std::to_string(code));
}

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

int ReadFromSource(GifFileType* gif, GifByteType* target, int length) {
    auto* source = static_cast<Source*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0)), source->size - source->pos);
    std::memcpy(target, source->data + source->pos, n);
    source->pos += n;
    return static_cast<int>(n);
}

struct CloseDecoder {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

struct CloseEncoder {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

struct FreeColorMap {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

// Transparent index named by the graphics control block `ext` (length byte first), or -1.
int TransparentIndex(const GifByteType* ext) {
    if (ext == nullptr || ext[0] < 4)
        return -1;
    return (ext[1] & 0x01) ? ext[4] : -1;
}

// Most pixels that `bytes` bytes of LZW data with this initial code size can give: every
// code takes at least codeSize + 1 bits, and the k-th code after a clear stands for at
// most k pixels (each table entry is one longer than an earlier one), never above 4096.
std::uint64_t MaxLzwPixels(std::uint64_t bytes, int codeSize) {
    const std::uint64_t codes = bytes * 8 / static_cast<std::uint64_t>(std::max(codeSize, 1) + 1);
    constexpr std::uint64_t kLongest = 4096;
    if (codes <= kLongest)
        return codes * (codes + 1) / 2;
    return kLongest * (kLongest + 1) / 2 + (codes - kLongest) * kLongest;
}

// Bytes of the image data sub-blocks from `pos` (just after the code size byte) to their
// terminator or the end of the file.
std::uint64_t LzwDataBytes(const Source& source) {
    std::uint64_t total = 0;
    std::size_t p = source.pos;
    while (p < source.size && source.data[p] != 0) {
        const std::size_t length = source.data[p];
        total += std::min(length, source.size - p - 1);
        p += 1 + length;
    }
    return total;
}

// Where the first frame lies on the canvas, once its header and the amount of its data passed.
struct FrameLayout {
    std::int64_t canvasWidth, canvasHeight;
    int visibleWidth; // columns of the frame inside the canvas
};

FrameLayout CheckFirstFrame(const GifFileType* gif, const Source& source) {
    const GifImageDesc& frame = gif->Image;
    if (frame.Left < 0 || frame.Top < 0 || frame.Width < 0 || frame.Height < 0)
        Fail("bad frame position");
    // The canvas around a frame is only background: a frame without pixels gives no picture.
    if (frame.Width == 0 || frame.Height == 0)
        Fail("the first frame has no pixels");
    std::int64_t canvasWidth = gif->SWidth, canvasHeight = gif->SHeight;
    // A file that gives no screen size is drawn at the size of its frame.
    if (canvasWidth <= 0 || canvasHeight <= 0) {
        canvasWidth = static_cast<std::int64_t>(frame.Left) + frame.Width;
        canvasHeight = static_cast<std::int64_t>(frame.Top) + frame.Height;
    }
    detail::CheckPictureSize(canvasWidth, canvasHeight, kFormat);

    if (frame.ColorMap == nullptr && gif->SColorMap == nullptr)
        Fail("frame without a colour table");
    const int codeSize = source.pos > 0 ? source.data[source.pos - 1] : 8;
    if (static_cast<std::uint64_t>(frame.Width) * static_cast<std::uint64_t>(frame.Height) >
        MaxLzwPixels(LzwDataBytes(source), codeSize))
        Fail("image data too short for the frame");

    const int visibleWidth =
        static_cast<int>(std::clamp<std::int64_t>(canvasWidth - frame.Left, 0, frame.Width));
    const std::int64_t visibleHeight = std::clamp<std::int64_t>(canvasHeight - frame.Top, 0, frame.Height);
    const std::int64_t covered = visibleWidth * visibleHeight;
    const std::int64_t background = canvasWidth * canvasHeight - covered;
    if (background > detail::kFreeSkippedPixels && background > detail::kSkippedPixelsPerSetPixel * covered)
        Fail("the first frame covers " + std::to_string(covered) + " of the screen's " +
             std::to_string(canvasWidth * canvasHeight) + " pixels");
    return {canvasWidth, canvasHeight, visibleWidth};
}

// Decodes every line of the frame, keeping none: the data is then known to be whole.
void CheckFrameData(GifFileType* gif) {
    std::vector<GifPixelType> line(static_cast<std::size_t>(gif->Image.Width));
    for (int row = 0; row < gif->Image.Height; ++row)
        if (DGifGetLine(gif, line.data(), gif->Image.Width) == GIF_ERROR)
            FailWithCode(gif->Error);
}

void StreamFirstFrame(GifFileType* gif, int transparent, const FrameLayout& layout, detail::RowSink& sink) {
    const GifImageDesc& frame = gif->Image;
    std::array<std::uint8_t, 3> background{0, 0, 0};
    if (const ColorMapObject* global = gif->SColorMap;
        global && gif->SBackGroundColor >= 0 && gif->SBackGroundColor < global->ColorCount) {
        const GifColorType& c = global->Colors[gif->SBackGroundColor];
        background = {c.Red, c.Green, c.Blue};
    }
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;

    sink.begin(static_cast<int>(layout.canvasWidth), static_cast<int>(layout.canvasHeight),
               background.data());

    // Colour of every index; the transparent one and those past the table show the background.
    std::array<std::array<std::uint8_t, 3>, 256> colours;
    colours.fill(background);
    for (int i = 0; i < map->ColorCount && i < 256; ++i)
        if (i != transparent)
            colours[static_cast<std::size_t>(i)] = {map->Colors[i].Red, map->Colors[i].Green,
                                                    map->Colors[i].Blue};

    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    const int visibleWidth = layout.visibleWidth;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(visibleWidth) * 3);
    auto drawLine = [&](int frameRow) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
            FailWithCode(gif->Error);
        const std::int64_t y = static_cast<std::int64_t>(frame.Top) + frameRow;
        if (y >= layout.canvasHeight || visibleWidth == 0 || !sink.wants(static_cast<int>(y)))
            return;
        std::uint8_t* o = rgb.data();
        for (int x = 0; x < visibleWidth; ++x, o += 3)
            std::memcpy(o, colours[line[static_cast<std::size_t>(x)]].data(), 3);
        sink.putPixels(static_cast<int>(y), frame.Left, 1, visibleWidth, rgb.data());
    };
    if (frame.Interlace) {
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int row = kStart[pass]; row < frame.Height; row += kStep[pass])
                drawLine(row);
    } else {
        for (int row = 0; row < frame.Height; ++row)
            drawLine(row);
    }
}

// giflib's decoder over `source` from its start, stopped at the first frame's image data, and
// the transparent index of the graphics control block before that frame (-1 for none).
std::unique_ptr<GifFileType, CloseDecoder> OpenAtFirstFrame(Source& source, int& transparent) {
    source.pos = 0;
    int error = 0;
    std::unique_ptr<GifFileType, CloseDecoder> gif(DGifOpen(&source, ReadFromSource, &error));
    if (!gif)
        FailWithCode(error);
    transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            FailWithCode(gif->Error);
        switch (type) {
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR)
                FailWithCode(gif->Error);
            if (code == GRAPHICS_EXT_FUNC_CODE)
                transparent = TransparentIndex(ext);
            while (ext != nullptr)
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR)
                    FailWithCode(gif->Error);
            break;
        }
        case IMAGE_DESC_RECORD_TYPE:
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
                FailWithCode(gif->Error);
            return gif;
        case TERMINATE_RECORD_TYPE:
            Fail("no picture in the file");
        default:
            Fail("unknown record");
        }
    }
}

// Exact palette of a picture with at most 256 colours: fills `indexes` and `palette`.
// False as soon as a 257th colour turns up.
bool ExactPalette(const Rgb24Image& picture, std::vector<GifByteType>& indexes,
                  std::vector<GifColorType>& palette) {
    constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    constexpr int kSlots = 1024;
    std::array<std::uint32_t, kSlots> keys;
    std::array<std::uint8_t, kSlots> values{};
    keys.fill(kEmpty);
    palette.clear();

    const std::size_t count =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    const std::uint8_t* p = picture.pixels.data();
    std::uint32_t lastKey = kEmpty;
    std::uint8_t lastIndex = 0;
    for (std::size_t i = 0; i < count; ++i, p += 3) {
        const std::uint32_t key = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
        if (key != lastKey) {
            std::uint32_t slot = (key * 2654435761u) >> 22;
            while (keys[slot] != kEmpty && keys[slot] != key)
                slot = (slot + 1) & (kSlots - 1);
            if (keys[slot] == kEmpty) {
                if (palette.size() == 256)
                    return false;
                keys[slot] = key;
                values[slot] = static_cast<std::uint8_t>(palette.size());
                palette.push_back({p[0], p[1], p[2]});
            }
            lastKey = key;
            lastIndex = values[slot];
        }
        indexes[i] = lastIndex;
    }
    return true;
}

// Palette of at most 256 colours: giflib's median cut (on 5-bit channels) gives the start,
// then a few k-means rounds over a histogram of 6-bit cells move every entry to the mean of
// the colours nearest to it. Every pixel takes the entry chosen for its cell.
void QuantizedPalette(const Rgb24Image& picture, std::vector<GifByteType>& indexes,
                      std::vector<GifColorType>& palette) {
    const std::size_t count =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    std::vector<std::uint32_t> cellOf(count);
    {
        std::vector<GifByteType> red(count), green(count), blue(count);
        const std::uint8_t* p = picture.pixels.data();
        for (std::size_t i = 0; i < count; ++i, p += 3) {
            red[i] = p[0];
            green[i] = p[1];
            blue[i] = p[2];
            cellOf[i] = (std::uint32_t{p[0]} >> 2) << 12 | (std::uint32_t{p[1]} >> 2) << 6 | (p[2] >> 2);
        }
        int size = 256;
        palette.assign(256, GifColorType{0, 0, 0});
        if (GifQuantizeBuffer(static_cast<unsigned>(picture.width), static_cast<unsigned>(picture.height),
                              &size, red.data(), green.data(), blue.data(), indexes.data(),
                              palette.data()) == GIF_ERROR)
            Fail("colour quantization failed");
        palette.resize(static_cast<std::size_t>(std::clamp(size, 1, 256)));
    }

    // Histogram of the occupied cells: pixel count and colour sums.
    struct Cell {
        std::uint64_t n = 0, r = 0, g = 0, b = 0;
    };
    std::vector<std::int32_t> slotOfCell(1u << 18, -1);
    std::vector<Cell> cells;
    const std::uint8_t* p = picture.pixels.data();
    for (std::size_t i = 0; i < count; ++i, p += 3) {
        std::int32_t& slot = slotOfCell[cellOf[i]];
        if (slot < 0) {
            slot = static_cast<std::int32_t>(cells.size());
            cells.emplace_back();
        }
        Cell& c = cells[static_cast<std::size_t>(slot)];
        ++c.n;
        c.r += p[0];
        c.g += p[1];
        c.b += p[2];
    }
    struct Mean {
        int r, g, b;
    };
    std::vector<Mean> means(cells.size());
    for (std::size_t k = 0; k < cells.size(); ++k) {
        const Cell& c = cells[k];
        means[k] = {static_cast<int>(c.r / c.n), static_cast<int>(c.g / c.n), static_cast<int>(c.b / c.n)};
    }

    std::vector<std::uint8_t> choice(cells.size(), 0);
    constexpr int kRounds = 3;
    for (int round = 0; round <= kRounds; ++round) {
        for (std::size_t k = 0; k < cells.size(); ++k) {
            const Mean& m = means[k];
            int best = 0, bestDistance = INT32_MAX;
            for (std::size_t e = 0; e < palette.size(); ++e) {
                const int dr = m.r - palette[e].Red, dg = m.g - palette[e].Green, db = m.b - palette[e].Blue;
                const int distance = dr * dr + dg * dg + db * db;
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = static_cast<int>(e);
                }
            }
            choice[k] = static_cast<std::uint8_t>(best);
        }
        if (round == kRounds)
            break;
        std::vector<Cell> sums(palette.size());
        for (std::size_t k = 0; k < cells.size(); ++k) {
            Cell& s = sums[choice[k]];
            s.n += cells[k].n;
            s.r += cells[k].r;
            s.g += cells[k].g;
            s.b += cells[k].b;
        }
        for (std::size_t e = 0; e < palette.size(); ++e)
            if (const Cell& s = sums[e]; s.n > 0)
                palette[e] = {static_cast<GifByteType>((s.r + s.n / 2) / s.n),
                              static_cast<GifByteType>((s.g + s.n / 2) / s.n),
                              static_cast<GifByteType>((s.b + s.n / 2) / s.n)};
    }
    for (std::size_t i = 0; i < count; ++i)
        indexes[i] = choice[static_cast<std::size_t>(slotOfCell[cellOf[i]])];
}

int WriteToBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* bytes = static_cast<QByteArray*>(gif->UserData);
    try {
        bytes->append(reinterpret_cast<const char*>(data), length);
    } catch (...) {
        return 0; // giflib turns a short write into an error
    }
    return length;
}

} // namespace

namespace detail {

void StreamGif(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    if (data == nullptr || size < 6 || std::memcmp(data, "GIF", 3) != 0)
        Fail("not a GIF file");
    Source source{data, size, 0};
    int transparent = -1;
    auto gif = OpenAtFirstFrame(source, transparent);
    const FrameLayout layout = CheckFirstFrame(gif.get(), source);
    // On a large screen, data that fails part way would leave the whole screen taken and filled
    // for nothing: the frame is decoded once without keeping it, then again into the picture.
    if (layout.canvasWidth * layout.canvasHeight > kFreeSkippedPixels) {
        CheckFrameData(gif.get());
        gif.reset();
        gif = OpenAtFirstFrame(source, transparent);
    }
    StreamFirstFrame(gif.get(), transparent, layout, sink);
}

} // namespace detail

QByteArray EncodeGif(const Rgb24Image& picture) {
    if (picture.isEmpty())
        Fail("cannot write an empty picture");
    if (picture.width > 65535 || picture.height > 65535)
        Fail("picture too large for a GIF file");

    std::vector<GifByteType> indexes(static_cast<std::size_t>(picture.width) *
                                     static_cast<std::size_t>(picture.height));
    std::vector<GifColorType> palette;
    if (!ExactPalette(picture, indexes, palette))
        QuantizedPalette(picture, indexes, palette);

    // A GIF colour table holds a power of two of entries, at least two.
    int tableSize = 2;
    while (tableSize < static_cast<int>(palette.size()))
        tableSize *= 2;
    palette.resize(static_cast<std::size_t>(tableSize), GifColorType{0, 0, 0});
    std::unique_ptr<ColorMapObject, FreeColorMap> map(GifMakeMapObject(tableSize, palette.data()));
    if (!map)
        Fail("cannot make the colour table");

    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(indexes.size() / 2) + 1024);
    int error = 0;
    std::unique_ptr<GifFileType, CloseEncoder> gif(EGifOpen(&bytes, WriteToBytes, &error));
    if (!gif)
        FailWithCode(error);
    if (EGifPutScreenDesc(gif.get(), picture.width, picture.height, 8, 0, map.get()) == GIF_ERROR ||
        EGifPutImageDesc(gif.get(), 0, 0, picture.width, picture.height, false, nullptr) == GIF_ERROR)
        FailWithCode(gif->Error);
    for (int y = 0; y < picture.height; ++y)
        if (EGifPutLine(gif.get(), indexes.data() + static_cast<std::size_t>(y) * picture.width,
                        picture.width) == GIF_ERROR)
            FailWithCode(gif->Error);
    // Closing writes the trailer and frees the handle, whatever it returns.
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR)
        FailWithCode(error);
    return bytes;
}

} // namespace skarvel
