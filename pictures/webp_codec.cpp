// WebP through libwebp: the container read by its demuxer, the first frame decoded whole (libwebp
// has no row-by-row output) and placed on the canvas.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_data_backing.h"

#include <cstring>
#include <memory>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

namespace skarvel {

namespace {

constexpr const char* kFormat = "WebP";

struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

// The first frame of a demuxed file; the iterator's bytes point into the file.
class FirstFrame {
public:
    explicit FirstFrame(const WebPDemuxer* demux) { m_valid = WebPDemuxGetFrame(demux, 1, &m_iter) != 0; }
    ~FirstFrame() {
        if (m_valid)
            WebPDemuxReleaseIterator(&m_iter);
    }
    FirstFrame(const FirstFrame&) = delete;
    FirstFrame& operator=(const FirstFrame&) = delete;
    bool valid() const { return m_valid; }
    const WebPIterator& operator*() const { return m_iter; }
    const WebPIterator* operator->() const { return &m_iter; }

private:
    WebPIterator m_iter{};
    bool m_valid = false;
};

} // namespace

namespace detail {

void StreamWebp(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    if (data == nullptr || size < 12)
        ThrowPictureError(kFormat, "not a WebP file");
    const WebPData file{data, size};
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&file));
    if (!demux)
        ThrowPictureError(kFormat, "not a WebP file, or one cut short");
    const std::int64_t canvasWidth = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const std::int64_t canvasHeight = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    CheckPictureSize(canvasWidth, canvasHeight, kFormat);

    const FirstFrame frame(demux.get());
    if (!frame.valid())
        ThrowPictureError(kFormat, "file without a frame");
    const int frameWidth = frame->width, frameHeight = frame->height;
    const int left = frame->x_offset, top = frame->y_offset;
    if (frameWidth <= 0 || frameHeight <= 0 || left < 0 || top < 0 ||
        left + std::int64_t{frameWidth} > canvasWidth || top + std::int64_t{frameHeight} > canvasHeight)
        ThrowPictureError(kFormat, "frame outside the canvas");
    CheckCodedDataBacksSize(canvasWidth * canvasHeight, std::int64_t{frameWidth} * frameHeight,
                            static_cast<std::int64_t>(frame->fragment.size), kFormat);
    // The frame is held whole, whatever the sink keeps.
    CheckWholeDecodeSize(frameWidth, frameHeight);

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        ThrowPictureError(kFormat, "cannot start the decoder");
    if (WebPGetFeatures(frame->fragment.bytes, frame->fragment.size, &config.input) != VP8_STATUS_OK)
        ThrowPictureError(kFormat, "unreadable frame header");
    if (config.input.width != frameWidth || config.input.height != frameHeight)
        ThrowPictureError(kFormat, "frame size differs from its bitstream's");
    // Premultiplied output is the picture blended onto black.
    const bool alpha = config.input.has_alpha != 0;
    const int bytesPerPixel = alpha ? 4 : 3;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(frameWidth) *
                                     static_cast<std::size_t>(frameHeight) *
                                     static_cast<std::size_t>(bytesPerPixel));
    config.output.colorspace = alpha ? MODE_rgbA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = pixels.data();
    config.output.u.RGBA.stride = frameWidth * bytesPerPixel;
    config.output.u.RGBA.size = pixels.size();
    const VP8StatusCode status = WebPDecode(frame->fragment.bytes, frame->fragment.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        ThrowPictureError(kFormat, status == VP8_STATUS_NOT_ENOUGH_DATA ? "frame data cut short"
                                                                        : "frame data cannot be decoded");

    // The canvas starts transparent (libwebp leaves its background colour to the viewer): black here.
    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    sink.begin(static_cast<int>(canvasWidth), static_cast<int>(canvasHeight), kBlack);
    const bool whole = frameWidth == canvasWidth && frameHeight == canvasHeight;
    std::vector<std::uint8_t> rgb(alpha && !whole ? static_cast<std::size_t>(frameWidth) * 3 : 0);
    for (int y = 0; y < frameHeight; ++y) {
        const int canvasY = top + y;
        if (!sink.wants(canvasY))
            continue;
        const std::uint8_t* in = pixels.data() + static_cast<std::size_t>(y) *
                                                     static_cast<std::size_t>(frameWidth) *
                                                     static_cast<std::size_t>(bytesPerPixel);
        std::uint8_t* out = whole ? sink.rowBuffer(canvasY) : (alpha ? rgb.data() : nullptr);
        if (out) {
            if (alpha)
                for (int x = 0; x < frameWidth; ++x)
                    std::memcpy(out + static_cast<std::size_t>(x) * 3, in + static_cast<std::size_t>(x) * 4,
                                3);
            else
                std::memcpy(out, in, static_cast<std::size_t>(frameWidth) * 3);
        }
        if (whole)
            sink.rowDone(canvasY);
        else
            sink.putPixels(canvasY, left, 1, frameWidth, out ? out : in);
    }
}

} // namespace detail

QByteArray EncodeWebp(const Rgb24Image& picture, int quality) {
    if (picture.isEmpty())
        detail::ThrowPictureError(kFormat, "cannot write an empty picture");
    if (picture.width > WEBP_MAX_DIMENSION || picture.height > WEBP_MAX_DIMENSION)
        detail::ThrowPictureError(kFormat, "picture too large for a WebP file");
    std::uint8_t* output = nullptr;
    const std::size_t size =
        WebPEncodeRGB(picture.pixels.data(), picture.width, picture.height,
                      static_cast<int>(picture.rowBytes()), static_cast<float>(quality), &output);
    const std::unique_ptr<std::uint8_t, void (*)(void*)> owned(output, WebPFree);
    if (size == 0 || output == nullptr)
        detail::ThrowPictureError(kFormat, "the encoder failed");
    return QByteArray(reinterpret_cast<const char*>(output), static_cast<qsizetype>(size));
}

} // namespace skarvel
