// skarvel-svg: draws one SVG document with librsvg for Skarvel, which starts it under limits of
// processor time and memory and talks to it on standard input and output:
//
//   in:  "<bytes>\n" and the document
//   out: "SIZE <width> <height>\n" (or "ERROR <why>\n" and the end)
//   in:  "DRAW <width> <height>\n" (anything else ends the run)
//   out: "PIXELS\n" and height rows of width RGB triplets on white (or "ERROR <why>\n")
//
// The document gets no base address, so librsvg loads nothing outside it. Arguments: the address
// space allowed before drawing and what each drawn pixel adds (the hard limit set by Skarvel caps it).
#include <librsvg/rsvg.h>

#include <cairo.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxDocumentBytes = std::size_t{64} * 1024 * 1024;
constexpr double kMaxSide = 65535;

// Moves all of size bytes through read or write, going on after a signal: false at the end of the
// stream or on an error.
template <typename Byte, typename Transfer>
[[nodiscard]] bool TransferAll(Byte* p, std::size_t size, Transfer transfer) {
    while (size > 0) {
        const ssize_t n = transfer(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

[[nodiscard]] bool WriteAll(const void* bytes, std::size_t size) {
    return TransferAll(static_cast<const char*>(bytes), size,
                       [](const char* p, std::size_t n) { return write(STDOUT_FILENO, p, n); });
}

[[nodiscard]] bool ReadAll(void* bytes, std::size_t size) {
    return TransferAll(static_cast<char*>(bytes), size,
                       [](char* p, std::size_t n) { return read(STDIN_FILENO, p, n); });
}

[[nodiscard]] bool ReadLine(std::string& line) {
    line.clear();
    char c = 0;
    while (line.size() < 64) {
        if (!ReadAll(&c, 1))
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

[[nodiscard]] int Refuse(const std::string& why) {
    std::string message = "ERROR " + why;
    for (char& c : message)
        if (c == '\n' || c == '\r')
            c = ' ';
    message += '\n';
    // Skarvel reads the reason from the message, so one it cannot get ends the run as a lost socket does.
    if (!WriteAll(message.data(), message.size()))
        return 2;
    return 1;
}

// A length in CSS pixels, or NaN for one relative to something outside the document.
double AbsolutePixels(gboolean present, const RsvgLength& length) {
    if (!present)
        return NAN;
    switch (length.unit) {
    case RSVG_UNIT_PX:
        return length.length;
    case RSVG_UNIT_IN:
        return length.length * 96;
    case RSVG_UNIT_CM:
        return length.length * 96 / 2.54;
    case RSVG_UNIT_MM:
        return length.length * 96 / 25.4;
    case RSVG_UNIT_PT:
        return length.length * 96 / 72;
    case RSVG_UNIT_PC:
        return length.length * 16;
    default:
        return NAN;
    }
}

// Width and height in CSS pixels, else from the viewBox; false when the document has neither.
[[nodiscard]] bool DocumentSize(RsvgHandle* handle, double& width, double& height) {
    if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height))
        return true;
    gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
    RsvgLength w{}, h{};
    RsvgRectangle box{};
    rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &w, &hasHeight, &h, &hasViewBox, &box);
    if (!hasViewBox || !(box.width > 0) || !(box.height > 0))
        return false;
    const double aw = AbsolutePixels(hasWidth, w), ah = AbsolutePixels(hasHeight, h);
    if (std::isfinite(aw)) {
        width = aw;
        height = aw * box.height / box.width;
    } else if (std::isfinite(ah)) {
        height = ah;
        width = ah * box.width / box.height;
    } else {
        width = box.width;
        height = box.height;
    }
    return true;
}

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const long long baseBytes = argc > 1 ? std::atoll(argv[1]) : 0;
    const long long bytesPerPixel = argc > 2 ? std::atoll(argv[2]) : 0;

    std::string line;
    if (!ReadLine(line))
        return 2;
    const unsigned long long size = std::strtoull(line.c_str(), nullptr, 10);
    if (size == 0 || size > kMaxDocumentBytes)
        return Refuse("document size out of range");
    std::vector<char> document(size);
    if (!ReadAll(document.data(), size))
        return 2;

    const std::unique_ptr<GInputStream, Unref> input(
        g_memory_input_stream_new_from_data(document.data(), static_cast<gssize>(size), nullptr));
    GError* error = nullptr;
    // No base file: nothing outside the document can be loaded.
    const std::unique_ptr<RsvgHandle, Unref> handle(
        rsvg_handle_new_from_stream_sync(input.get(), nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error));
    if (!handle) {
        const std::string why = error ? error->message : "cannot read the document";
        g_clear_error(&error);
        return Refuse(why);
    }
    rsvg_handle_set_dpi(handle.get(), 96);
    double width = 0, height = 0;
    if (!DocumentSize(handle.get(), width, height))
        return Refuse("the picture has neither a size nor a viewBox");
    if (!std::isfinite(width) || !std::isfinite(height) || width < 0 || height < 0 || width > kMaxSide ||
        height > kMaxSide)
        return Refuse("size out of range");
    const std::string size_line = "SIZE " + std::to_string(static_cast<long long>(std::ceil(width - 1e-6))) +
                                  " " + std::to_string(static_cast<long long>(std::ceil(height - 1e-6))) +
                                  "\n";
    if (!WriteAll(size_line.data(), size_line.size()))
        return 2;

    if (!ReadLine(line))
        return 0;
    int drawWidth = 0, drawHeight = 0;
    if (std::sscanf(line.c_str(), "DRAW %d %d", &drawWidth, &drawHeight) != 2)
        return 0;
    if (drawWidth <= 0 || drawHeight <= 0 || drawWidth > 32767 || drawHeight > 32767)
        return Refuse("cannot draw at that size");
    rlimit memory{};
    if (baseBytes > 0 && getrlimit(RLIMIT_AS, &memory) == 0) {
        const rlim_t wanted =
            static_cast<rlim_t>(baseBytes + bytesPerPixel * static_cast<long long>(drawWidth) * drawHeight);
        memory.rlim_cur = memory.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, memory.rlim_max);
        setrlimit(RLIMIT_AS, &memory);
    }

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, drawWidth, drawHeight);
    const std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> ownedSurface(surface,
                                                                                    cairo_surface_destroy);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return Refuse("cannot make a drawing surface");
    cairo_t* cr = cairo_create(surface);
    const std::unique_ptr<cairo_t, void (*)(cairo_t*)> ownedContext(cr, cairo_destroy);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const RsvgRectangle viewport{0, 0, static_cast<double>(drawWidth), static_cast<double>(drawHeight)};
    if (!rsvg_handle_render_document(handle.get(), cr, &viewport, &error)) {
        const std::string why = error ? error->message : "cannot draw the document";
        g_clear_error(&error);
        return Refuse(why);
    }
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
        return Refuse(cairo_status_to_string(cairo_status(cr)));
    cairo_surface_flush(surface);

    if (!WriteAll("PIXELS\n", 7))
        return 2;
    const unsigned char* pixels = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    std::vector<unsigned char> row(static_cast<std::size_t>(drawWidth) * 3);
    for (int y = 0; y < drawHeight; ++y) {
        // Opaque ARGB32 in native byte order: the white ground leaves no alpha to undo.
        const auto* in =
            reinterpret_cast<const std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < drawWidth; ++x) {
            row[static_cast<std::size_t>(x) * 3] = static_cast<unsigned char>(in[x] >> 16);
            row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<unsigned char>(in[x] >> 8);
            row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<unsigned char>(in[x]);
        }
        if (!WriteAll(row.data(), row.size()))
            return 2;
    }
    return 0;
}
