#include "tests/pictures/picture_test_tools.h"
#include "tests/support/host_tool.h"

#include <QStandardPaths>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <jpeglib.h>

namespace skarvel::test {

namespace {

// The distribution's ImageMagick 6 installs its tools under versioned names as well.
QString magickProgram(const QString& tool) {
    for (const QString& name : QStringList{tool + QStringLiteral("-im6.q16"), tool}) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return tool;
}

std::uint32_t nextRandom(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

std::uint32_t readU32(const QByteArray& b, int at) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(b.constData()) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

} // namespace

QByteArray runMagick(const QString& tool, const QStringList& args) {
    // The bridge finds the build machine's tool by its name.
    const ToolRun run = runHostTool(toolsThroughBridge() ? tool : magickProgram(tool), args);
    if (!run.ok()) {
        ADD_FAILURE() << tool.toStdString() << " " << args.join(u' ').toStdString()
                      << " failed: " << run.err.toStdString();
        return {};
    }
    return run.out;
}

QString identifyFormat(const QString& path, const QString& format) {
    return QString::fromUtf8(
               runMagick(QStringLiteral("identify"), {QStringLiteral("-format"), format, path + u"[0]"}))
        .trimmed();
}

RgbaPicture magickRgba(const QString& path, const QStringList& extraArgs) {
    RgbaPicture picture;
    const QStringList size = identifyFormat(path, QStringLiteral("%w %h")).split(u' ');
    if (size.size() != 2) {
        ADD_FAILURE() << "no size for " << path.toStdString();
        return picture;
    }
    picture.width = size[0].toInt();
    picture.height = size[1].toInt();
    QStringList args{path + u"[0]"};
    args << extraArgs << QStringLiteral("-depth") << QStringLiteral("8") << QStringLiteral("rgba:-");
    const QByteArray bytes = runMagick(QStringLiteral("convert"), args);
    const std::size_t expected = static_cast<std::size_t>(picture.width) * picture.height * 4;
    if (static_cast<std::size_t>(bytes.size()) != expected) {
        ADD_FAILURE() << "ImageMagick gave " << bytes.size() << " bytes for " << path.toStdString()
                      << ", expected " << expected;
        picture.width = picture.height = 0;
        return picture;
    }
    picture.rgba.assign(bytes.begin(), bytes.end());
    return picture;
}

Rgb24Image colourOf(const RgbaPicture& picture) {
    Rgb24Image out(picture.width, picture.height);
    for (std::size_t i = 0, n = out.pixels.size() / 3; i < n; ++i)
        std::memcpy(&out.pixels[i * 3], &picture.rgba[i * 4], 3);
    return out;
}

Rgb24Image blendedOntoBlack(const RgbaPicture& picture) {
    Rgb24Image out(picture.width, picture.height);
    for (std::size_t i = 0, n = out.pixels.size() / 3; i < n; ++i) {
        const double alpha = picture.rgba[i * 4 + 3] / 255.0;
        for (int c = 0; c < 3; ++c)
            out.pixels[i * 3 + c] = static_cast<std::uint8_t>(std::lround(picture.rgba[i * 4 + c] * alpha));
    }
    return out;
}

PixelDiff comparePixels(const Rgb24Image& a, const Rgb24Image& b) {
    PixelDiff d;
    d.sameSize = a.width == b.width && a.height == b.height && a.pixels.size() == b.pixels.size();
    if (!d.sameSize || a.pixels.empty())
        return d;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const int diff = std::abs(int{a.pixels[i]} - int{b.pixels[i]});
        d.maxDiff = std::max(d.maxDiff, diff);
        sum += static_cast<std::uint64_t>(diff);
    }
    d.meanDiff = static_cast<double>(sum) / static_cast<double>(a.pixels.size());
    return d;
}

Rgb24Image makePhotoLike(int w, int h, std::uint32_t seed) {
    Rgb24Image out(w, h);
    std::uint32_t state = seed;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = out.pixel(x, y);
            const int noise = static_cast<int>(nextRandom(state) % 9) - 4;
            const bool block = x > w / 3 && x < w / 2 && y > h / 4 && y < h / 2;
            p[0] = block
                       ? 250
                       : static_cast<std::uint8_t>(std::clamp(x * 255 / std::max(1, w - 1) + noise, 0, 255));
            p[1] = block
                       ? 30
                       : static_cast<std::uint8_t>(std::clamp(y * 255 / std::max(1, h - 1) + noise, 0, 255));
            p[2] = block ? 60
                         : static_cast<std::uint8_t>(std::clamp(
                               128 + static_cast<int>(100 * std::sin((x + y) / 9.0)) + noise, 0, 255));
        }
    }
    return out;
}

Rgb24Image makeScene(int w, int h, std::uint32_t seed) {
    std::uint32_t state = seed * 2654435761u + 12345u;
    const auto unit = [&state] { return double(nextRandom(state) % 100000) / 100000.0; };
    // Value noise per channel on lattices of 3, 6 and 12 cells across, smoothly interpolated.
    struct Octave {
        int cells;
        double amplitude;
        std::vector<double> values; // (cells + 1)^2 lattice points, three channels each
    };
    std::vector<Octave> octaves;
    for (const auto& [cells, amplitude] : {std::pair{3, 90.0}, std::pair{6, 45.0}, std::pair{12, 20.0}}) {
        Octave o{cells, amplitude, {}};
        o.values.resize(size_t((cells + 1) * (cells + 1) * 3));
        for (double& v : o.values)
            v = unit() * 2 - 1;
        octaves.push_back(std::move(o));
    }
    double top[3], bottom[3];
    for (int c = 0; c < 3; ++c) {
        top[c] = 40 + unit() * 180;
        bottom[c] = 40 + unit() * 180;
    }
    struct Disc {
        double x, y, r;
        double colour[3];
    };
    std::vector<Disc> discs(4);
    for (Disc& d : discs) {
        d.x = unit();
        d.y = unit();
        d.r = 0.08 + unit() * 0.22;
        for (double& c : d.colour)
            c = unit() * 255;
    }
    const double side = std::min(w, h);
    const auto smooth = [](double t) { return t * t * (3 - 2 * t); };
    Rgb24Image out(w, h);
    for (int y = 0; y < h; ++y) {
        const double v = (y + 0.5) / h;
        for (int x = 0; x < w; ++x) {
            const double u = (x + 0.5) / w;
            double colour[3];
            for (int c = 0; c < 3; ++c)
                colour[c] = top[c] + (bottom[c] - top[c]) * v;
            for (const Octave& o : octaves) {
                const double fx = u * o.cells, fy = v * o.cells;
                const int ix = std::min(int(fx), o.cells - 1), iy = std::min(int(fy), o.cells - 1);
                const double tx = smooth(fx - ix), ty = smooth(fy - iy);
                const auto at = [&o](int gx, int gy, int c) {
                    return o.values[size_t(((gy * (o.cells + 1)) + gx) * 3 + c)];
                };
                for (int c = 0; c < 3; ++c) {
                    const double a = at(ix, iy, c) + (at(ix + 1, iy, c) - at(ix, iy, c)) * tx;
                    const double b = at(ix, iy + 1, c) + (at(ix + 1, iy + 1, c) - at(ix, iy + 1, c)) * tx;
                    colour[c] += o.amplitude * (a + (b - a) * ty);
                }
            }
            for (const Disc& d : discs) {
                const double dist = std::hypot((u - d.x) * w, (v - d.y) * h) / side;
                const double cover = std::clamp((d.r - dist) * 40, 0.0, 1.0); // a soft edge
                for (int c = 0; c < 3; ++c)
                    colour[c] += (d.colour[c] - colour[c]) * cover * 0.8;
            }
            const double grain = double(nextRandom(state) % 11) - 5;
            std::uint8_t* p = out.pixel(x, y);
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>(std::clamp(std::lround(colour[c] + grain), 0L, 255L));
        }
    }
    return out;
}

QByteArray makeSvgScene(int w, int h, std::uint32_t seed) {
    std::uint32_t state = seed * 2246822519u + 7u;
    const auto unit = [&state] { return double(nextRandom(state) % 1000) / 1000.0; };
    const auto colour = [&] {
        return QStringLiteral("rgb(%1,%2,%3)")
            .arg(int(30 + unit() * 200))
            .arg(int(30 + unit() * 200))
            .arg(int(30 + unit() * 200));
    };
    // The viewBox is 1000 units across the longer side.
    const double vw = w >= h ? 1000 : 1000.0 * w / h, vh = w >= h ? 1000.0 * h / w : 1000;
    const QString top = colour(), bottom = colour();
    QString svg =
        QStringLiteral(R"(<svg xmlns="http://www.w3.org/2000/svg" width="%1" height="%2" )"
                       R"(viewBox="0 0 %3 %4">)"
                       R"(<defs><linearGradient id="g" x1="0" y1="0" x2="0.4" y2="1">)"
                       R"(<stop offset="0" stop-color="%5"/><stop offset="1" stop-color="%6"/>)"
                       R"svg(</linearGradient></defs><rect width="%3" height="%4" fill="url(#g)"/>)svg")
            .arg(w)
            .arg(h)
            .arg(vw)
            .arg(vh)
            .arg(top, bottom);
    for (int i = 0; i < 7; ++i) {
        const double x = unit() * vw, y = unit() * vh, rx = (0.08 + unit() * 0.25) * vw,
                     ry = (0.08 + unit() * 0.25) * vh;
        if (i % 3 == 2)
            svg += QStringLiteral(R"(<rect x="%1" y="%2" width="%3" height="%4" fill="%5" opacity="0.8"/>)")
                       .arg(x - rx)
                       .arg(y - ry)
                       .arg(2 * rx)
                       .arg(2 * ry)
                       .arg(colour());
        else
            svg += QStringLiteral(R"(<ellipse cx="%1" cy="%2" rx="%3" ry="%4" fill="%5" opacity="0.75"/>)")
                       .arg(x)
                       .arg(y)
                       .arg(rx)
                       .arg(ry)
                       .arg(colour());
    }
    return (svg + QStringLiteral("</svg>")).toUtf8();
}

Rgb24Image makeFewColours(int w, int h, int colours) {
    Rgb24Image out(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int c = (x * colours / w + y) % colours;
            std::uint8_t* p = out.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(c * 255 / std::max(1, colours - 1));
            p[1] = static_cast<std::uint8_t>(255 - c * 7 % 256);
            p[2] = static_cast<std::uint8_t>(c % 2 ? 255 : 0);
        }
    return out;
}

QByteArray makePng(int width, int height, int colorType, int bitDepth, bool interlaced, bool transparency,
                   std::uint32_t seed) {
    // Fixture inputs are always valid, so libpng's default error handling (abort) is enough.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    QByteArray bytes;
    png_set_write_fn(
        png, &bytes,
        [](png_structp p, png_bytep data, png_size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))
                ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
        },
        [](png_structp) {});
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth,
                 colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    int channels = 1;
    if (colorType == PNG_COLOR_TYPE_RGB)
        channels = 3;
    else if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        channels = 2;
    else if (colorType == PNG_COLOR_TYPE_RGB_ALPHA)
        channels = 4;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * channels * bitDepth + 7) / 8;
    std::vector<std::uint8_t> data(rowBytes * height);
    std::uint32_t state = seed;
    for (auto& b : data)
        b = static_cast<std::uint8_t>(nextRandom(state));

    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        palette.resize(std::size_t{1} << bitDepth);
        for (auto& c : palette)
            c = {static_cast<png_byte>(nextRandom(state)), static_cast<png_byte>(nextRandom(state)),
                 static_cast<png_byte>(nextRandom(state))};
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
        if (transparency) {
            alphas.resize(palette.size());
            for (auto& a : alphas)
                a = static_cast<png_byte>(nextRandom(state));
            alphas[0] = 0;
            alphas.back() = 255;
            png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        }
    } else if (transparency) {
        png_color_16 key{};
        auto sample = [&](std::size_t i) -> png_uint_16 {
            if (bitDepth == 16)
                return static_cast<png_uint_16>((data[2 * i] << 8) | data[2 * i + 1]);
            if (bitDepth == 8)
                return data[i];
            return static_cast<png_uint_16>(data[0] >> (8 - bitDepth)); // first pixel only
        };
        if (colorType == PNG_COLOR_TYPE_GRAY)
            key.gray = sample(0);
        else {
            key.red = sample(0);
            key.green = sample(1);
            key.blue = sample(2);
        }
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<std::size_t>(y)] = data.data() + rowBytes * static_cast<std::size_t>(y);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

QByteArray bmpToTopDown(const QByteArray& bottomUp) {
    QByteArray out = bottomUp;
    const std::uint32_t offset = readU32(bottomUp, 10);
    const auto width = static_cast<std::int32_t>(readU32(bottomUp, 18));
    const auto height = static_cast<std::int32_t>(readU32(bottomUp, 22));
    const int bpp = static_cast<std::uint8_t>(bottomUp[28]) | (static_cast<std::uint8_t>(bottomUp[29]) << 8);
    const std::size_t stride = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    const std::int32_t negated = -height;
    std::memcpy(out.data() + 22, &negated, 4);
    for (std::int32_t row = 0; row < height; ++row)
        std::memcpy(out.data() + offset + stride * row,
                    bottomUp.constData() + offset + stride * (height - 1 - row), stride);
    return out;
}

namespace {

void putBe32(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
void putLe16(QByteArray& b, qsizetype at, unsigned v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
void putLe32(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk(4, '\0');
    putBe32(chunk, 0, static_cast<std::uint32_t>(data.size()));
    chunk += QByteArray(type, 4) + data;
    const QByteArray crcInput = chunk.mid(4);
    QByteArray crc(4, '\0');
    putBe32(crc, 0,
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(crcInput.constData()),
                                             static_cast<uInt>(crcInput.size()))));
    return chunk + crc;
}

} // namespace

// 8 + 25 + 13 = 46 bytes: a header claiming w x h, one byte of image data, no IEND.
QByteArray tinyPng(std::uint32_t w, std::uint32_t h, bool interlaced) {
    QByteArray ihdr(13, '\0');
    putBe32(ihdr, 0, w);
    putBe32(ihdr, 4, h);
    ihdr[8] = 8;
    ihdr[9] = 2;
    ihdr[12] = interlaced ? 1 : 0;
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", QByteArray("x", 1));
}

// 54-byte header, one palette entry, then 6 bytes of runs that stop long before the picture does.
QByteArray rle8BmpHeader(std::uint32_t w, std::uint32_t h, std::uint32_t paletteEntries) {
    QByteArray bmp(14 + 40 + 4 * paletteEntries, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    putLe32(bmp, 10, static_cast<std::uint32_t>(bmp.size()));
    putLe32(bmp, 14, 40);
    putLe32(bmp, 18, w);
    putLe32(bmp, 22, h);
    putLe16(bmp, 26, 1);
    putLe16(bmp, 28, 8);
    putLe32(bmp, 30, 1); // RLE8
    putLe32(bmp, 46, paletteEntries);
    return bmp;
}

QByteArray tinyRleBmp(std::uint32_t w, std::uint32_t h) {
    QByteArray bmp = rle8BmpHeader(w, h, 1);
    bmp += QByteArray("\x05\x00\x00\x00\x05\x00", 6);
    putLe32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    return bmp;
}

// A one-pixel GIF with its screen and first frame set to the given sizes.
QByteArray gifWithSizes(unsigned screenW, unsigned screenH, unsigned frameW, unsigned frameH) {
    Rgb24Image one(1, 1);
    QByteArray gif = EncodeGif(one);
    putLe16(gif, 6, screenW);
    putLe16(gif, 8, screenH);
    const qsizetype frame = gif.indexOf('\x2C', 13); // the image descriptor after the colour table
    putLe16(gif, frame + 5, frameW);
    putLe16(gif, frame + 7, frameH);
    return gif;
}

QByteArray jpegClaiming(unsigned w, unsigned h) {
    return withJpegFrameSize(EncodeJpeg(makePhotoLike(8, 8, 3), 90), w, h);
}

QByteArray withJpegFrameSize(QByteArray jpeg, unsigned w, unsigned h) {
    // Walks the marker segments up to the frame header: SOF0 to SOF15 but DHT, JPG and DAC.
    qsizetype at = 2;
    while (at + 9 < jpeg.size() && static_cast<std::uint8_t>(jpeg[at]) == 0xFF) {
        const auto marker = static_cast<std::uint8_t>(jpeg[at + 1]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            jpeg[at + 5] = static_cast<char>(h >> 8);
            jpeg[at + 6] = static_cast<char>(h & 0xFF);
            jpeg[at + 7] = static_cast<char>(w >> 8);
            jpeg[at + 8] = static_cast<char>(w & 0xFF);
            return jpeg;
        }
        at += 2 + (static_cast<std::uint8_t>(jpeg[at + 2]) << 8 | static_cast<std::uint8_t>(jpeg[at + 3]));
    }
    ADD_FAILURE() << "no frame header";
    return {};
}

namespace {

struct JpegWriter {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    std::jmp_buf jump;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

[[noreturn]] void JumpOut(j_common_ptr cinfo) {
    std::longjmp(static_cast<JpegWriter*>(cinfo->client_data)->jump, 1);
}

// Every local is trivial, so the jump out of libjpeg skips no destructor.
bool WriteJpegSteps(JpegWriter* w, const Rgb24Image* picture, bool arithmetic, bool progressive,
                    int restartRows) {
    if (setjmp(w->jump))
        return false;
    jpeg_mem_dest(&w->cinfo, &w->buffer, &w->size);
    w->cinfo.image_width = static_cast<JDIMENSION>(picture->width);
    w->cinfo.image_height = static_cast<JDIMENSION>(picture->height);
    w->cinfo.input_components = 3;
    w->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&w->cinfo);
    jpeg_set_quality(&w->cinfo, 90, TRUE);
    w->cinfo.arith_code = arithmetic ? TRUE : FALSE;
    w->cinfo.restart_in_rows = restartRows;
    if (progressive)
        jpeg_simple_progression(&w->cinfo);
    jpeg_start_compress(&w->cinfo, TRUE);
    while (w->cinfo.next_scanline < w->cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture->row(static_cast<int>(w->cinfo.next_scanline)));
        jpeg_write_scanlines(&w->cinfo, &row, 1);
    }
    jpeg_finish_compress(&w->cinfo);
    return true;
}

} // namespace

QByteArray encodeJpegWith(const Rgb24Image& picture, bool arithmetic, bool progressive, int restartRows) {
    JpegWriter w;
    std::memset(&w.cinfo, 0, sizeof w.cinfo);
    w.cinfo.err = jpeg_std_error(&w.err);
    w.err.error_exit = JumpOut;
    w.cinfo.client_data = &w;
    jpeg_create_compress(&w.cinfo);
    const bool ok = WriteJpegSteps(&w, &picture, arithmetic, progressive, restartRows);
    jpeg_destroy_compress(&w.cinfo);
    QByteArray bytes =
        ok ? QByteArray(reinterpret_cast<const char*>(w.buffer), static_cast<qsizetype>(w.size))
           : QByteArray();
    std::free(w.buffer);
    return bytes;
}

} // namespace skarvel::test
