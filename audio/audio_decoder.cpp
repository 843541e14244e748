#include "audio/audio_decoder.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <mutex>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace skarvel::audio {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct DictHolder {
    AVDictionary* dict = nullptr;
    DictHolder() = default;
    DictHolder(const DictHolder&) = delete;
    DictHolder& operator=(const DictHolder&) = delete;
    ~DictHolder() { av_dict_free(&dict); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct LayoutHolder {
    AVChannelLayout layout{};
    LayoutHolder() = default;
    LayoutHolder(const LayoutHolder&) = delete;
    LayoutHolder& operator=(const LayoutHolder&) = delete;
    ~LayoutHolder() { av_channel_layout_uninit(&layout); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

QString ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

void quietLogging() {
    // Downloaded files are often junk; FFmpeg's complaints about them would only
    // flood stderr, the failure itself is reported through the API.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

int channelCount(const AVFrame* frame) {
    return frame->ch_layout.nb_channels;
}

#ifdef Q_OS_WIN
// The file read through a handle that lets others rename and delete it: FFmpeg's own opens it so
// that no download can replace a sound while it plays.
class SharedFileInput {
public:
    SharedFileInput(const SharedFileInput&) = delete;
    SharedFileInput& operator=(const SharedFileInput&) = delete;
    ~SharedFileInput() {
        if (m_io) {
            av_freep(&m_io->buffer);
            avio_context_free(&m_io);
        }
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }

    static std::unique_ptr<SharedFileInput> open(const QString& path) {
        std::unique_ptr<SharedFileInput> input(new SharedFileInput);
        input->m_file = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                    GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (input->m_file == INVALID_HANDLE_VALUE)
            return nullptr;
        constexpr int kBufferSize = 64 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        if (!buffer)
            return nullptr;
        input->m_io = avio_alloc_context(buffer, kBufferSize, 0, input.get(), &SharedFileInput::read, nullptr,
                                         &SharedFileInput::seek);
        if (!input->m_io) {
            av_free(buffer);
            return nullptr;
        }
        return input;
    }

    AVIOContext* io() const { return m_io; }

private:
    SharedFileInput() = default;

    static int read(void* opaque, uint8_t* data, int size) {
        DWORD got = 0;
        if (!ReadFile(static_cast<SharedFileInput*>(opaque)->m_file, data, DWORD(size), &got, nullptr))
            return AVERROR(EIO);
        return got == 0 ? AVERROR_EOF : int(got);
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        const HANDLE file = static_cast<SharedFileInput*>(opaque)->m_file;
        if (whence & AVSEEK_SIZE) {
            LARGE_INTEGER size;
            return GetFileSizeEx(file, &size) ? size.QuadPart : AVERROR(EIO);
        }
        const DWORD method = (whence & ~AVSEEK_FORCE) == SEEK_CUR   ? FILE_CURRENT
                             : (whence & ~AVSEEK_FORCE) == SEEK_END ? FILE_END
                                                                    : FILE_BEGIN;
        LARGE_INTEGER to, now;
        to.QuadPart = offset;
        return SetFilePointerEx(file, to, &now, method) ? now.QuadPart : AVERROR(EIO);
    }

    HANDLE m_file = INVALID_HANDLE_VALUE;
    AVIOContext* m_io = nullptr;
};
#endif

} // namespace

struct AudioDecoder::State {
#ifdef Q_OS_WIN
    std::unique_ptr<SharedFileInput> input; // outlives the format that reads through it
#endif
    FormatPtr format;
    CodecPtr codec;
    PacketPtr packet{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    int streamIndex = -1;
    int sampleRate = 0;
    int channels = 0;
    bool firstFramePending = false;
    bool flushed = false;
    bool finished = false;
    qint64 samplesReturned = 0;

    // Decodes the next non-empty frame into `frame`; false at the end.
    bool decodeNext() {
        while (!finished) {
            const int received = avcodec_receive_frame(codec.get(), frame.get());
            if (received == 0) {
                if (frame->nb_samples > 0)
                    return true;
                continue;
            }
            if (received == AVERROR_EOF) {
                finished = true;
                break;
            }
            if (flushed) {
                // After the drain only frames or the end can come.
                finished = true;
                break;
            }
            const int read = av_read_frame(format.get(), packet.get());
            if (read < 0) {
                // End of file, or a read error that ends the stream: drain the decoder.
                avcodec_send_packet(codec.get(), nullptr);
                flushed = true;
                continue;
            }
            if (packet->stream_index == streamIndex) {
                // A damaged packet is skipped, as players do; the rest still decodes.
                avcodec_send_packet(codec.get(), packet.get());
            }
            av_packet_unref(packet.get());
        }
        return false;
    }
};

AudioDecoder::AudioDecoder(std::unique_ptr<State> state) : d(std::move(state)) {}
AudioDecoder::~AudioDecoder() = default;

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString& path, QString* error) {
    quietLogging();
    if (path.isEmpty() || !QFile::exists(path)) {
        setError(error, QStringLiteral("file not found"));
        return nullptr;
    }
    auto state = std::make_unique<State>();
    if (!state->packet || !state->frame) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }

    // The whitelist keeps playlists inside a downloaded file from reaching the network.
    DictHolder options;
    av_dict_set(&options.dict, "protocol_whitelist", "file", 0);
    AVFormatContext* rawFormat = nullptr;
#ifdef Q_OS_WIN
    state->input = SharedFileInput::open(path);
    if (!state->input) {
        setError(error, QStringLiteral("cannot open the file"));
        return nullptr;
    }
    rawFormat = avformat_alloc_context();
    if (!rawFormat) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    rawFormat->pb = state->input->io();
    // The name only helps to tell the format (by its extension); on failure FFmpeg frees the
    // context, not the input it was given.
    int rc = avformat_open_input(&rawFormat, path.toUtf8().constData(), nullptr, &options.dict);
#else
    // The "file:" prefix keeps names with a colon from being read as protocols.
    const QByteArray url = "file:" + QFile::encodeName(path);
    int rc = avformat_open_input(&rawFormat, url.constData(), nullptr, &options.dict);
#endif
    if (rc < 0) {
        setError(error, ffmpegError(rc));
        return nullptr;
    }
    state->format.reset(rawFormat);

    rc = avformat_find_stream_info(state->format.get(), nullptr);
    if (rc < 0) {
        setError(error, ffmpegError(rc));
        return nullptr;
    }
    const AVCodec* codec = nullptr;
    rc = av_find_best_stream(state->format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (rc < 0 || !codec) {
        setError(error, QStringLiteral("no audio stream"));
        return nullptr;
    }
    state->streamIndex = rc;
    AVStream* stream = state->format->streams[rc];
    for (unsigned i = 0; i < state->format->nb_streams; ++i) {
        if (static_cast<int>(i) != rc)
            state->format->streams[i]->discard = AVDISCARD_ALL;
    }

    state->codec.reset(avcodec_alloc_context3(codec));
    if (!state->codec) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    rc = avcodec_parameters_to_context(state->codec.get(), stream->codecpar);
    if (rc < 0) {
        setError(error, ffmpegError(rc));
        return nullptr;
    }
    state->codec->pkt_timebase = stream->time_base;
    state->codec->thread_count = 1;
    rc = avcodec_open2(state->codec.get(), codec, nullptr);
    if (rc < 0) {
        setError(error, ffmpegError(rc));
        return nullptr;
    }

    if (!state->decodeNext()) {
        setError(error, QStringLiteral("no decodable sound"));
        return nullptr;
    }
    state->sampleRate = state->frame->sample_rate;
    state->channels = channelCount(state->frame.get());
    if (state->sampleRate <= 0 || state->channels <= 0) {
        setError(error, QStringLiteral("invalid sound format"));
        return nullptr;
    }
    state->firstFramePending = true;
    return std::unique_ptr<AudioDecoder>(new AudioDecoder(std::move(state)));
}

int AudioDecoder::sampleRate() const {
    return d->sampleRate;
}
int AudioDecoder::channels() const {
    return d->channels;
}

const AVFrame* AudioDecoder::nextFrame() {
    if (d->firstFramePending) {
        d->firstFramePending = false;
    } else if (!d->decodeNext()) {
        return nullptr;
    }
    const AVFrame* frame = d->frame.get();
    // A chained stream may change its rate; its samples still count as time at the first rate.
    d->samplesReturned += frame->sample_rate == d->sampleRate || frame->sample_rate <= 0
                              ? frame->nb_samples
                              : av_rescale(frame->nb_samples, d->sampleRate, frame->sample_rate);
    return frame;
}

qint64 AudioDecoder::countSamples() {
    while (nextFrame()) {
    }
    return d->samplesReturned;
}

std::optional<AudioScan> scanAudioFile(const QString& path, QString* error) {
    auto decoder = AudioDecoder::open(path, error);
    if (!decoder)
        return std::nullopt;
    AudioScan scan;
    scan.sampleRate = decoder->sampleRate();
    scan.channels = decoder->channels();
    scan.samples = decoder->countSamples();
    return scan;
}

// ---------------------------------------------------------------------------

struct PcmReader::Resampler {
    SwrPtr context;
    int inRate = 0;
    int inFormat = -1;
    LayoutHolder inLayout;
};

PcmReader::PcmReader(std::unique_ptr<AudioDecoder> decoder, const PcmFormat& format)
    : decoder_(std::move(decoder)), format_(format) {}
PcmReader::~PcmReader() = default;

std::unique_ptr<PcmReader> PcmReader::open(const QString& path, const PcmFormat& format, QString* error) {
    if (format.sampleRate <= 0 || format.channels <= 0) {
        setError(error, QStringLiteral("invalid output format"));
        return nullptr;
    }
    auto decoder = AudioDecoder::open(path, error);
    if (!decoder)
        return nullptr;
    return std::unique_ptr<PcmReader>(new PcmReader(std::move(decoder), format));
}

int PcmReader::sourceSampleRate() const {
    return decoder_->sampleRate();
}
int PcmReader::sourceChannels() const {
    return decoder_->channels();
}

qint64 PcmReader::read(char* data, qint64 maxSize) {
    const qint64 frameBytes = format_.bytesPerFrame();
    const qint64 wanted = maxSize - maxSize % frameBytes;
    qint64 copied = 0;
    while (copied < wanted) {
        if (pendingPos_ == pending_.size()) {
            pending_.clear();
            pendingPos_ = 0;
            if (finished_ || !convertNextFrame())
                break;
            continue;
        }
        const qint64 n = std::min<qint64>(wanted - copied, pending_.size() - pendingPos_);
        std::memcpy(data + copied, pending_.constData() + pendingPos_, static_cast<size_t>(n));
        pendingPos_ += n;
        copied += n;
    }
    if (pendingPos_ == pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    }
    return copied;
}

bool PcmReader::convertNextFrame() {
    const AVFrame* frame = decoder_->nextFrame();
    if (!frame) {
        flushResampler();
        finished_ = true;
        return !pending_.isEmpty();
    }

    LayoutHolder inLayout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout.layout, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&inLayout.layout, &frame->ch_layout) < 0)
        return false;

    if (!resampler_ || resampler_->inRate != frame->sample_rate || resampler_->inFormat != frame->format ||
        av_channel_layout_compare(&resampler_->inLayout.layout, &inLayout.layout) != 0) {
        if (resampler_)
            flushResampler();
        auto next = std::make_unique<Resampler>();
        LayoutHolder outLayout;
        av_channel_layout_default(&outLayout.layout, format_.channels);
        const AVSampleFormat outFormat =
            format_.sample == PcmFormat::Sample::Int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &outLayout.layout, outFormat, format_.sampleRate, &inLayout.layout,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                nullptr) < 0)
            return false;
        next->context.reset(raw);
        if (swr_init(raw) < 0)
            return false;
        next->inRate = frame->sample_rate;
        next->inFormat = frame->format;
        if (av_channel_layout_copy(&next->inLayout.layout, &inLayout.layout) < 0)
            return false;
        resampler_ = std::move(next);
    }

    const int capacity = swr_get_out_samples(resampler_->context.get(), frame->nb_samples);
    if (capacity <= 0)
        return true;
    const qsizetype offset = pending_.size();
    pending_.resize(offset + qsizetype(capacity) * format_.bytesPerFrame());
    auto* out = reinterpret_cast<uint8_t*>(pending_.data() + offset);
    const int produced = swr_convert(resampler_->context.get(), &out, capacity,
                                     const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    pending_.resize(offset + qsizetype(std::max(produced, 0)) * format_.bytesPerFrame());
    return true;
}

void PcmReader::flushResampler() {
    if (!resampler_)
        return;
    SwrContext* swr = resampler_->context.get();
    for (;;) {
        const int capacity = swr_get_out_samples(swr, 0);
        if (capacity <= 0)
            break;
        const qsizetype offset = pending_.size();
        pending_.resize(offset + qsizetype(capacity) * format_.bytesPerFrame());
        auto* out = reinterpret_cast<uint8_t*>(pending_.data() + offset);
        const int produced = swr_convert(swr, &out, capacity, nullptr, 0);
        pending_.resize(offset + qsizetype(std::max(produced, 0)) * format_.bytesPerFrame());
        if (produced <= 0)
            break;
    }
    resampler_.reset();
}

} // namespace skarvel::audio
