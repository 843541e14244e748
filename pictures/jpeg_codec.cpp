// JPEG through libjpeg-turbo. libjpeg reports errors by longjmp; every setjmp below sits in
// a function whose locals are all trivial, and the objects that own memory live in the
// callers, so a jump never skips a destructor.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

namespace skarvel {

namespace {

constexpr const char* kFormat = "JPEG";
// A picture coded in several scans (progressive, or one component per scan) keeps all its
// coefficients, two bytes each, from before the first row comes out: 512 MB is a 4:2:0
// picture of about 170 megapixels. Larger ones are refused before libjpeg takes the memory.
constexpr std::uint64_t kMaxCoefficientBytes = 512ull * 1024 * 1024;
// libjpeg's own working memory: the coefficients plus its row buffers.
constexpr long kMaxDecoderMemory = static_cast<long>(kMaxCoefficientBytes) + 64L * 1024 * 1024;
// Arithmetic coding may legally drop the zero bytes that end a scan or a restart interval, and
// libjpeg then goes on decoding zeros; at most this many pixels of a scan may come from no
// coded data.
constexpr std::uint64_t kMaxPixelsPastData = 4ull * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    // A picture cut short, or whose coded data stops at a marker before its last block, is
    // padded with grey by libjpeg; we refuse it instead: its data cannot back its size. So
    // is a progressive picture whose scans skip the first pass of a coefficient (no DC scan),
    // where a few bytes of end-of-band runs could stand for all its blocks.
    if (level < 0 && (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER ||
                      cinfo->err->msg_code == JWRN_BOGUS_PROGRESSION))
        OnError(cinfo);
}

// Watches, between iMCU rows, how much of a scan is decoded from no coded data at all: rows
// decoded while a marker stops the data and no byte but a restart marker was read. Arithmetic
// decoding then goes on with zeros, silently and legally, so that a few bytes (or a run of
// restart markers) could otherwise stand for a huge picture. A Huffman decoder that runs
// out of bits warns instead (see OnMessage), and its end-of-band runs may span any number
// of blocks without a bit.
struct DataWatch {
    jpeg_progress_mgr pub;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool stopped = false; // a marker stopped the coded data at the last look
    int scan = 0;
    JDIMENSION row = 0;         // input_iMCU_row at the last look
    std::size_t read = 0;       // bytes read at the last look
    std::uint64_t unbacked = 0; // pixels of the scan decoded from no data
};

void WatchData(j_common_ptr common) {
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto* watch = reinterpret_cast<DataWatch*>(cinfo->progress);
    if (!cinfo->arith_code)
        return;
    if (watch->scan != cinfo->input_scan_number)
        watch->unbacked = 0;
    const std::uint8_t* next = cinfo->src->next_input_byte;
    // Past the end libjpeg reads an end marker of its own, outside the file.
    const std::size_t read = next >= watch->data && next <= watch->data + watch->size
                                 ? static_cast<std::size_t>(next - watch->data)
                                 : watch->size;
    const bool stopped = cinfo->unread_marker != 0;
    if (stopped && watch->stopped && watch->scan == cinfo->input_scan_number &&
        cinfo->input_iMCU_row >= watch->row && read <= watch->read + 2) {
        watch->unbacked += std::uint64_t{cinfo->input_iMCU_row - watch->row} *
                           static_cast<std::uint64_t>(cinfo->max_v_samp_factor) * DCTSIZE *
                           cinfo->image_width;
        if (watch->unbacked > kMaxPixelsPastData)
            ERREXIT(cinfo, JWRN_JPEG_EOF);
    }
    watch->stopped = stopped;
    watch->scan = cinfo->input_scan_number;
    watch->row = cinfo->input_iMCU_row;
    watch->read = read;
}

// Bytes of coefficients libjpeg keeps for the whole picture, or 0 when it decodes row by row.
std::uint64_t WholePictureCoefficientBytes(const jpeg_decompress_struct& cinfo) {
    if (!cinfo.progressive_mode && cinfo.comps_in_scan >= cinfo.num_components)
        return 0;
    std::uint64_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i) {
        const jpeg_component_info& c = cinfo.comp_info[i];
        const std::uint64_t h = static_cast<std::uint64_t>(std::max(c.h_samp_factor, 1));
        const std::uint64_t v = static_cast<std::uint64_t>(std::max(c.v_samp_factor, 1));
        blocks += (c.width_in_blocks + h - 1) / h * h * ((c.height_in_blocks + v - 1) / v * v);
    }
    return blocks * DCTSIZE2 * sizeof(JCOEF);
}

void SetUpErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    err.message[0] = '\0';
}

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    DataWatch watch;
    bool created = false;
    Decoder() {
        std::memset(&cinfo, 0, sizeof cinfo);
        SetUpErrors(err);
        cinfo.err = &err.pub;
        std::memset(&watch.pub, 0, sizeof watch.pub);
        watch.pub.progress_monitor = WatchData;
    }
    ~Decoder() {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

// The libjpeg calls of a decode. Every local is trivial (see the note at the top).
// Returns false after a libjpeg error, with the message in dec->err.message.
bool StreamSteps(Decoder* dec, const std::uint8_t* data, std::size_t size, detail::RowSink* sink,
                 std::vector<std::uint8_t>* cmykRow) {
    jpeg_decompress_struct* cinfo = &dec->cinfo;
    if (setjmp(dec->err.jump))
        return false;
    jpeg_create_decompress(cinfo);
    dec->created = true;
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);
    detail::CheckPictureSize(cinfo->image_width, cinfo->image_height, kFormat);
    if (WholePictureCoefficientBytes(*cinfo) > kMaxCoefficientBytes)
        detail::ThrowPictureError(kFormat, "picture of " + std::to_string(cinfo->image_width) + " x " +
                                               std::to_string(cinfo->image_height) +
                                               " pixels in several scans needs more memory than allowed");
    dec->watch.data = data;
    dec->watch.size = size;
    cinfo->progress = &dec->watch.pub;

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (static_cast<int>(cinfo->output_components) != (cmyk ? 4 : 3))
        ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);

    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    sink->begin(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height), kBlack);
    if (cmyk)
        cmykRow->resize(static_cast<std::size_t>(cinfo->output_width) * 4);
    // Adobe writes CMYK inverted (0 = full ink); other CMYK files are taken as plain.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        std::uint8_t* row = sink->rowBuffer(y);
        JSAMPROW target = cmyk ? cmykRow->data() : row;
        jpeg_read_scanlines(cinfo, &target, 1);
        if (cmyk) {
            const std::uint8_t* p = cmykRow->data();
            std::uint8_t* o = row;
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x, p += 4, o += 3) {
                const unsigned k = inverted ? p[3] : 255 - p[3];
                for (int c = 0; c < 3; ++c)
                    o[c] = detail::BlendOntoBlack(inverted ? p[c] : 255 - p[c], k);
            }
        }
        sink->rowDone(y);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

struct Encoder {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    bool created = false;
    unsigned char* buffer = nullptr; // grown with malloc by jpeg_mem_dest
    unsigned long bufferSize = 0;
    Encoder() {
        std::memset(&cinfo, 0, sizeof cinfo);
        SetUpErrors(err);
        cinfo.err = &err.pub;
    }
    ~Encoder() {
        if (created)
            jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
};

// The libjpeg calls of an encode; all locals trivial, as in DecodeSteps.
bool EncodeSteps(Encoder* enc, const Rgb24Image* picture, int quality) {
    jpeg_compress_struct* cinfo = &enc->cinfo;
    if (setjmp(enc->err.jump))
        return false;
    jpeg_create_compress(cinfo);
    enc->created = true;
    jpeg_mem_dest(cinfo, &enc->buffer, &enc->bufferSize);
    cinfo->image_width = static_cast<JDIMENSION>(picture->width);
    cinfo->image_height = static_cast<JDIMENSION>(picture->height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        // libjpeg does not write through the row pointer.
        JSAMPROW row = const_cast<JSAMPROW>(picture->row(static_cast<int>(cinfo->next_scanline)));
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

namespace detail {

void StreamJpeg(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    if (data == nullptr || size == 0)
        detail::ThrowPictureError(kFormat, "empty file");
    Decoder dec;
    std::vector<std::uint8_t> cmykRow;
    if (!StreamSteps(&dec, data, size, &sink, &cmykRow))
        detail::ThrowPictureError(kFormat, dec.err.message);
}

} // namespace detail

QByteArray EncodeJpeg(const Rgb24Image& picture, int quality) {
    if (picture.isEmpty())
        detail::ThrowPictureError(kFormat, "cannot write an empty picture");
    if (picture.width > JPEG_MAX_DIMENSION || picture.height > JPEG_MAX_DIMENSION)
        detail::ThrowPictureError(kFormat, "picture too large for a JPEG file");
    Encoder enc;
    if (!EncodeSteps(&enc, &picture, quality))
        detail::ThrowPictureError(kFormat, enc.err.message);
    return QByteArray(reinterpret_cast<const char*>(enc.buffer), static_cast<qsizetype>(enc.bufferSize));
}

} // namespace skarvel
