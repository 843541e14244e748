// AVIF through libavif, AV1 decoded by dav1d (whose frame size limit libavif sets) and encoded by
// libaom. The first image is converted to RGB whole, then turned and mirrored as its container says.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_data_backing.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <avif/avif.h>

namespace skarvel {

namespace {

constexpr const char* kFormat = "AVIF";

struct DecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
struct EncoderDeleter {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
struct RwData : avifRWData {
    RwData() : avifRWData{nullptr, 0} {}
    ~RwData() { avifRWDataFree(this); }
    RwData(const RwData&) = delete;
    RwData& operator=(const RwData&) = delete;
};

[[noreturn]] void Fail(const char* what, avifResult result) {
    detail::ThrowPictureError(kFormat, std::string(what) + ": " + avifResultToString(result));
}

// Where pixel (x, y) of the shown picture comes from in the stored one, after a turn of `quarterTurns`
// anticlockwise and then a mirror (0: top and bottom exchanged, 1: left and right).
struct Orientation {
    int quarterTurns = 0;
    int mirror = -1;
    int storedWidth = 0;
    int storedHeight = 0;

    int shownWidth() const { return quarterTurns % 2 ? storedHeight : storedWidth; }
    int shownHeight() const { return quarterTurns % 2 ? storedWidth : storedHeight; }
    void source(int x, int y, int& sx, int& sy) const {
        const int w = shownWidth(), h = shownHeight();
        if (mirror == 0)
            y = h - 1 - y;
        else if (mirror == 1)
            x = w - 1 - x;
        switch (quarterTurns) {
        case 1: // the stored picture turned anticlockwise: its right column is the top row
            sx = storedWidth - 1 - y;
            sy = x;
            break;
        case 2:
            sx = storedWidth - 1 - x;
            sy = storedHeight - 1 - y;
            break;
        case 3:
            sx = y;
            sy = storedHeight - 1 - x;
            break;
        default:
            sx = x;
            sy = y;
            break;
        }
    }
};

} // namespace

namespace detail {

void StreamAvif(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    if (data == nullptr || size < 12)
        ThrowPictureError(kFormat, "not an AVIF file");
    const std::unique_ptr<avifDecoder, DecoderDeleter> decoder(avifDecoderCreate());
    if (!decoder)
        ThrowPictureError(kFormat, "cannot start the decoder");
    decoder->codecChoice = AVIF_CODEC_CHOICE_DAV1D;
    decoder->maxThreads = 1;
    decoder->imageSizeLimit = static_cast<std::uint32_t>(kDecodePixelBudget);
    decoder->imageDimensionLimit = static_cast<std::uint32_t>(kMaxPictureSide);
    decoder->imageCountLimit = 1u << 16;
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    avifResult result = avifDecoderSetIOMemory(decoder.get(), data, size);
    if (result != AVIF_RESULT_OK)
        Fail("cannot read the file", result);
    result = avifDecoderParse(decoder.get());
    if (result != AVIF_RESULT_OK)
        Fail("cannot read the container", result);
    {
        // The container's size, checked before any AV1 data is decoded.
        const avifImage* declared = decoder->image;
        CheckPictureSize(declared->width, declared->height, kFormat);
        const std::int64_t pixels = std::int64_t{declared->width} * declared->height;
        CheckCodedDataBacksSize(pixels, pixels, static_cast<std::int64_t>(size), kFormat);
        CheckWholeDecodeSize(static_cast<int>(declared->width), static_cast<int>(declared->height));
    }
    // The AV1 frame may be larger than its container says: dav1d is held to what the data backs,
    // from the codec made at the reset on.
    decoder->imageSizeLimit = static_cast<std::uint32_t>(
        std::min(kDecodePixelBudget,
                 std::max(kFreeSkippedPixels, kPixelsPerCodedByte * static_cast<std::int64_t>(size))));
    result = avifDecoderReset(decoder.get());
    if (result != AVIF_RESULT_OK)
        Fail("cannot read the container", result);
    result = avifDecoderNextImage(decoder.get());
    if (result != AVIF_RESULT_OK)
        Fail("cannot decode the image", result);
    avifImage* image = decoder->image;
    CheckPictureSize(image->width, image->height, kFormat);
    CheckWholeDecodeSize(static_cast<int>(image->width), static_cast<int>(image->height));

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.depth = 8;
    // Premultiplied output is the picture blended onto black.
    const bool alpha = image->alphaPlane != nullptr;
    rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.alphaPremultiplied = alpha ? AVIF_TRUE : AVIF_FALSE;
    const std::size_t bytesPerPixel = alpha ? 4 : 3;
    rgb.rowBytes = static_cast<std::uint32_t>(image->width * bytesPerPixel);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rgb.rowBytes) * image->height);
    rgb.pixels = pixels.data();
    result = avifImageYUVToRGB(image, &rgb);
    if (result != AVIF_RESULT_OK)
        Fail("cannot convert the image to RGB", result);

    Orientation turn;
    turn.storedWidth = static_cast<int>(image->width);
    turn.storedHeight = static_cast<int>(image->height);
    if (image->transformFlags & AVIF_TRANSFORM_IROT)
        turn.quarterTurns = image->irot.angle & 3;
    if (image->transformFlags & AVIF_TRANSFORM_IMIR)
        turn.mirror = image->imir.mode & 1;
    const int width = turn.shownWidth(), height = turn.shownHeight();
    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    sink.begin(width, height, kBlack);
    const bool plain = turn.quarterTurns == 0 && turn.mirror < 0;
    for (int y = 0; y < height; ++y) {
        if (!sink.wants(y))
            continue;
        std::uint8_t* out = sink.rowBuffer(y);
        if (plain && !alpha) {
            std::memcpy(out, pixels.data() + static_cast<std::size_t>(y) * rgb.rowBytes,
                        static_cast<std::size_t>(width) * 3);
        } else {
            for (int x = 0; x < width; ++x) {
                int sx = x, sy = y;
                turn.source(x, y, sx, sy);
                std::memcpy(out + static_cast<std::size_t>(x) * 3,
                            pixels.data() + static_cast<std::size_t>(sy) * rgb.rowBytes +
                                static_cast<std::size_t>(sx) * bytesPerPixel,
                            3);
            }
        }
        sink.rowDone(y);
    }
}

} // namespace detail

QByteArray EncodeAvif(const Rgb24Image& picture) {
    if (picture.isEmpty())
        detail::ThrowPictureError(kFormat, "cannot write an empty picture");
    const std::unique_ptr<avifImage, ImageDeleter> image(
        avifImageCreate(static_cast<std::uint32_t>(picture.width), static_cast<std::uint32_t>(picture.height),
                        8, AVIF_PIXEL_FORMAT_YUV420));
    if (!image)
        detail::ThrowPictureError(kFormat, "cannot make the image");
    image->yuvRange = AVIF_RANGE_FULL;
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.depth = 8;
    rgb.format = AVIF_RGB_FORMAT_RGB;
    rgb.pixels = const_cast<std::uint8_t*>(picture.pixels.data()); // only read
    rgb.rowBytes = static_cast<std::uint32_t>(picture.rowBytes());
    avifResult result = avifImageRGBToYUV(image.get(), &rgb);
    if (result != AVIF_RESULT_OK)
        Fail("cannot convert the picture to YUV", result);

    const std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avifEncoderCreate());
    if (!encoder)
        detail::ThrowPictureError(kFormat, "cannot start the encoder");
    encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
    encoder->maxThreads = 1;
    encoder->speed = 6;
    // Quality 90 as libavif maps quality to the AV1 quantizer (0 to 63): (100 - 90) * 63 / 100.
    encoder->minQuantizer = encoder->maxQuantizer = 6;
    RwData output;
    result = avifEncoderWrite(encoder.get(), image.get(), &output);
    if (result != AVIF_RESULT_OK)
        Fail("the encoder failed", result);
    return QByteArray(reinterpret_cast<const char*>(output.data), static_cast<qsizetype>(output.size));
}

} // namespace skarvel
