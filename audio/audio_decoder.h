#pragma once
// FFmpeg decoding behind the audio library: one decoder per open file, an exact
// sample count for measuring and a converter to the PCM an output device takes.
// QtCore and FFmpeg only; nothing here needs an event loop.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

struct AVFrame;

namespace skarvel::audio {

class AudioDecoder {
public:
    // nullptr (with *error set) when the file cannot be read, holds no audio stream,
    // or yields no decodable sound at all. The first frame is decoded here already.
    [[nodiscard]] static std::unique_ptr<AudioDecoder> open(const QString& path, QString* error = nullptr);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Rate and channel count of the decoded sound, taken from its first frame.
    int sampleRate() const;
    int channels() const;

    // The next decoded frame (never empty), or nullptr once the stream is exhausted.
    // Priming and padding samples marked by the container are already dropped.
    // The frame stays valid until the next call.
    const AVFrame* nextFrame();

    // Decodes to the end and returns the samples per channel of the whole stream,
    // frames already returned included, counted at sampleRate().
    qint64 countSamples();

private:
    struct State;
    explicit AudioDecoder(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

struct AudioScan {
    int sampleRate = 0;
    int channels = 0;
    qint64 samples = 0; // per channel
};

// Decodes a whole file and counts its samples: exact for VBR files too.
[[nodiscard]] std::optional<AudioScan> scanAudioFile(const QString& path, QString* error = nullptr);

// Interleaved PCM for an output device.
struct PcmFormat {
    enum class Sample { Int16, Float };
    int sampleRate = 44100;
    int channels = 2;
    Sample sample = Sample::Int16;
    int bytesPerFrame() const { return channels * (sample == Sample::Int16 ? 2 : 4); }
};

// Decodes a file on demand and converts it to a fixed PCM format.
class PcmReader {
public:
    [[nodiscard]] static std::unique_ptr<PcmReader> open(const QString& path, const PcmFormat& format,
                                                         QString* error = nullptr);
    ~PcmReader();
    PcmReader(const PcmReader&) = delete;
    PcmReader& operator=(const PcmReader&) = delete;

    const PcmFormat& format() const { return format_; }
    int sourceSampleRate() const;
    int sourceChannels() const;

    // Copies up to maxSize bytes (whole frames only); 0 once everything was read.
    qint64 read(char* data, qint64 maxSize);
    bool atEnd() const { return finished_ && pending_.size() == pendingPos_; }

private:
    PcmReader(std::unique_ptr<AudioDecoder> decoder, const PcmFormat& format);
    bool convertNextFrame();
    void flushResampler();

    struct Resampler;
    std::unique_ptr<AudioDecoder> decoder_;
    PcmFormat format_;
    std::unique_ptr<Resampler> resampler_;
    QByteArray pending_;
    qsizetype pendingPos_ = 0;
    bool finished_ = false;
};

} // namespace skarvel::audio
