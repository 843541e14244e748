#pragma once
// SVG pictures. librsvg draws them in a helper process of its own (skarvel-svg) under limits of
// processor time, memory and wall time, so that no document, however it is made, can hold the
// program; the document is checked here first (entities, nesting) and given to librsvg without a
// base address, so nothing outside it is ever loaded.
//
// The size of an SVG is its width and height in CSS pixels (96 per inch), else its viewBox (the
// other side following the viewBox's proportions when only one is given), rounded up.
#include "pictures/picture_codecs.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>

namespace skarvel::detail {

inline constexpr std::int64_t kMaxSvgFileBytes = std::int64_t{32} * 1024 * 1024;
// libxml2's own limit, which librsvg keeps.
inline constexpr int kMaxSvgDepth = 256;
inline constexpr std::int64_t kMaxSvgElements = 1'000'000;
// Entities may add this many times the file's size to the document, plus the free part; each
// holds at most kMaxSvgEntityLength characters and no other entity.
inline constexpr std::int64_t kSvgExpansionFactor = 4;
inline constexpr std::int64_t kSvgFreeExpansion = std::int64_t{1024} * 1024;
inline constexpr qsizetype kMaxSvgEntityLength = 4096;
// cairo draws at most this many pixels a side.
inline constexpr int kMaxSvgDrawnSide = 32767;

// Throws PictureError for a document that is not well-formed XML with an svg root, declares
// parameter or external entities or an entity that uses another, refers to an entity it does not
// declare, nests elements deeper than kMaxSvgDepth, holds more than kMaxSvgElements elements, or
// whose entity references (counted in the file, before any is expanded) would add more than
// kSvgExpansionFactor times its size.
void CheckSvgDocument(const std::uint8_t* data, std::size_t size);

struct SvgHelperLimits {
    std::chrono::seconds cpu{20};
    std::chrono::milliseconds wall{60000};
    // Address space of the helper before drawing, and what each drawn pixel adds.
    std::int64_t baseBytes = std::int64_t{1} << 30;
    std::int64_t bytesPerDrawnPixel = 12;
};

// What the last helper run of the calling thread used.
struct SvgHelperUsage {
    std::int64_t peakKilobytes = 0; // largest resident set
    double cpuSeconds = 0;
    double wallSeconds = 0;
};
// Zero until a helper run of the calling thread ends; every SVG decode or measure starts from zero.
SvgHelperUsage LastSvgHelperUsage();
void ForgetSvgHelperUsage();

// The helper executable: $SKARVEL_SVG_HELPER, else skarvel-svg beside the executable, else the
// installed one, else the one of the build tree. Empty when there is none.
QString SvgHelperPath();

// One run of the helper on a checked document: started, given the document, its size read. The
// process ends with the object. Every failure (a refused document, a helper that dies, goes over a
// limit or is missing) throws PictureError.
class SvgHelper {
public:
    SvgHelper(const std::uint8_t* data, std::size_t size, const SvgHelperLimits& limits = {});
    ~SvgHelper();
    SvgHelper(const SvgHelper&) = delete;
    SvgHelper& operator=(const SvgHelper&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Draws the whole document into width x height pixels on white; each row's RGB bytes go to row().
    // Once per run.
    void draw(int width, int height, const std::function<void(int y, const std::uint8_t* rgb)>& row);

private:
    bool awaitSocket(short events);
    void send(const char* bytes, std::size_t size);
    void receive(char* bytes, std::size_t size);
    std::string receiveLine();
    [[noreturn]] void fail(const std::string& why);
    void end();

    SvgHelperLimits m_limits;
    std::chrono::steady_clock::time_point m_deadline;
    std::chrono::steady_clock::time_point m_started;
    int m_pid = -1;
    int m_socket = -1;
    int m_width = 0;
    int m_height = 0;
};

} // namespace skarvel::detail
