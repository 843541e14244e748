#include "audio/audio_library.h"

#include "audio/audio_decoder.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace skarvel {

namespace {

// Feeds decoded PCM to an audio sink, decoding as the sink asks for more.
class PcmSource : public QIODevice {
public:
    PcmSource(std::unique_ptr<audio::PcmReader> reader, QObject* parent)
        : QIODevice(parent), reader_(std::move(reader)) {}

    bool isSequential() const override { return true; }
    bool atEnd() const override { return reader_->atEnd() && silence_ == 0 && QIODevice::atEnd(); }
    qint64 bytesAvailable() const override {
        // Data is made on request, so everything up to the end counts as available.
        const qint64 more = reader_->atEnd() ? silence_ : qint64(reader_->format().bytesPerFrame()) * 4096;
        return more + QIODevice::bytesAvailable();
    }
    qint64 bytesFed() const { return fed_; }
    // Silence given after the sound. A device that ran short keeps back what it holds until its
    // buffer fills again: the silence fills it, so the end of the sound plays, and a stop that
    // comes early cuts silence only.
    void setTrailingSilence(qint64 bytes) {
        const int frame = reader_->format().bytesPerFrame();
        silence_ = std::max<qint64>(bytes, 0) / frame * frame;
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        qint64 n = reader_->read(data, maxSize);
        if (n == 0 && reader_->atEnd() && silence_ > 0) {
            const int frame = reader_->format().bytesPerFrame();
            n = std::min(maxSize / frame * frame, silence_);
            std::memset(data, 0, size_t(n));
            silence_ -= n;
        }
        fed_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::unique_ptr<audio::PcmReader> reader_;
    qint64 fed_ = 0;
    qint64 silence_ = 0;
};

// One stream on the output device. Lives on the output's thread.
class OutputChannel : public QObject {
public:
    OutputChannel(const QAudioDevice& device, const QAudioFormat& format,
                  std::unique_ptr<audio::PcmReader> reader, float volume,
                  std::shared_ptr<std::atomic<bool>> playing)
        : sink_(new QAudioSink(device, format, this)), source_(new PcmSource(std::move(reader), this)),
          drainTimer_(new QTimer(this)), playing_(std::move(playing)) {
        sink_->setVolume(volume);
        source_->open(QIODevice::ReadOnly);
        drainTimer_->setInterval(20);
        connect(drainTimer_, &QTimer::timeout, this, [this] { checkDrained(); });
        // Backends report some states from their own threads; this context queues them here.
        connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) { onState(state); });
    }
    ~OutputChannel() override {
        // The sink goes first, while the source it reads from still exists.
        disconnect(sink_, nullptr, this, nullptr);
        delete sink_;
    }

    bool start() {
        finished_ = false;
        drainTimer_->stop();
        sink_->start(source_);
        if (!silenceGiven_) { // the sink's buffer is known once it has started
            source_->setTrailingSilence(sink_->bufferSize());
            silenceGiven_ = true;
        }
        const bool ok = sink_->error() == QAudio::NoError && sink_->state() != QAudio::StoppedState;
        playing_->store(ok);
        return ok;
    }
    void stop() {
        drainTimer_->stop();
        playing_->store(false);
        sink_->stop();
    }
    void pause() {
        if (sink_->state() == QAudio::ActiveState || sink_->state() == QAudio::IdleState)
            sink_->suspend();
    }
    void resume() {
        if (sink_->state() == QAudio::SuspendedState)
            sink_->resume();
    }
    void setVolume(float volume) { sink_->setVolume(volume); }
    bool isRunning() const { return sink_->state() != QAudio::StoppedState; }
    bool playedOut() const { return finished_; }

private:
    void onState(QAudio::State state) {
        if (state == QAudio::IdleState && source_->atEnd() && !finished_ && !drainTimer_->isActive()) {
            // The sink has taken the last bytes but still holds up to a buffer of them;
            // stopping now would cut the end off.
            heldAtEnd_ = std::max<qint64>(sink_->bufferSize() - sink_->bytesFree(), 0);
            drainClock_.start();
            drainTimer_->start();
        } else if (state == QAudio::StoppedState) {
            drainTimer_->stop();
            playing_->store(false);
        }
    }

    void checkDrained() {
        if (sink_->state() == QAudio::SuspendedState) {
            drainClock_.start();
            return;
        }
        const qint64 fedUs =
            sink_->format().durationForBytes(qint32(std::min<qint64>(source_->bytesFed(), INT_MAX)));
        const qint64 bufferUs = sink_->format().durationForBytes(qint32(sink_->bufferSize()));
        const qint64 elapsedUs = drainClock_.nsecsElapsed() / 1000;
        // The played time is extrapolated from the device's last report and runs ahead of it after an
        // underrun, as on a busy machine: what the sink held at the end also takes its own time to play.
        const bool played = sink_->processedUSecs() >= fedUs &&
                            elapsedUs >= sink_->format().durationForBytes(qint32(heldAtEnd_));
        // Should the backend never report the last bytes as played, a buffer's time is enough.
        if (!played && elapsedUs < bufferUs + 1000000)
            return;
        drainTimer_->stop();
        finished_ = true;
        playing_->store(false);
        sink_->stop();
    }

    QAudioSink* sink_;
    PcmSource* source_;
    QTimer* drainTimer_;
    QElapsedTimer drainClock_;
    qint64 heldAtEnd_ = 0; // bytes the sink still held when the source ended
    std::shared_ptr<std::atomic<bool>> playing_;
    bool finished_ = false;
    bool silenceGiven_ = false;
};

// Output channels are deleted on their own thread.
struct ChannelDisposer {
    void operator()(OutputChannel* channel) const {
        if (channel->thread() == QThread::currentThread())
            delete channel;
        else
            channel->deleteLater();
    }
};
using ChannelPtr = std::unique_ptr<OutputChannel, ChannelDisposer>;

QAudioFormat makeFormat(int rate, int channels, QAudioFormat::SampleFormat sample) {
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sample);
    return format;
}

// The stream's own rate and channels when the device takes them, else the nearest it does.
QAudioFormat chooseFormat(const QAudioDevice& device, int rate, int channels, int fallbackRate) {
    const std::vector<QAudioFormat> candidates = {
        makeFormat(rate, channels, QAudioFormat::Int16),
        makeFormat(rate, 2, QAudioFormat::Int16),
        makeFormat(fallbackRate, 2, QAudioFormat::Int16),
        makeFormat(device.preferredFormat().sampleRate(), device.preferredFormat().channelCount(),
                   QAudioFormat::Int16),
        makeFormat(device.preferredFormat().sampleRate(), device.preferredFormat().channelCount(),
                   QAudioFormat::Float),
    };
    for (const QAudioFormat& format : candidates) {
        if (format.isValid() && device.isFormatSupported(format))
            return format;
    }
    return makeFormat(rate, channels, QAudioFormat::Int16);
}

audio::PcmFormat pcmFormatOf(const QAudioFormat& format) {
    audio::PcmFormat pcm;
    pcm.sampleRate = format.sampleRate();
    pcm.channels = format.channelCount();
    pcm.sample = format.sampleFormat() == QAudioFormat::Float ? audio::PcmFormat::Sample::Float
                                                              : audio::PcmFormat::Sample::Int16;
    return pcm;
}

struct AudioStream {
    QString path;
    int sampleRate = 0;
    int channels = 0;

    std::mutex scanMutex;
    std::unique_ptr<audio::AudioDecoder> decoder; // until the length is known
    std::optional<qint64> samples;

    // Recursive: Qt's sink destructor runs the event loop, whose handlers may call back in.
    std::recursive_mutex outputMutex;
    ChannelPtr output; // created and used on the output's thread only
    std::shared_ptr<std::atomic<bool>> playing = std::make_shared<std::atomic<bool>>(false);
};

// Detaches a stream's output so that it can be closed without holding the lock.
ChannelPtr takeOutput(AudioStream& stream) {
    std::lock_guard lock(stream.outputMutex);
    stream.playing->store(false);
    return std::move(stream.output);
}

} // namespace

struct AudioLibrary::Impl {
    std::mutex tableMutex;
    std::unordered_map<quint32, std::shared_ptr<AudioStream>> streams;
    quint32 lastHandle = 0;

    // Written by Init before `initialised`, then read by the owner thread.
    std::atomic<bool> initialised{false};
    std::atomic<bool> hasDevice{false};
    QThread* ownerThread = nullptr;
    QAudioDevice device;
    int fallbackRate = 44100;
    std::atomic<float> volume{1.0f};
    bool paused = false;

    std::shared_ptr<AudioStream> find(quint32 handle) {
        if (handle == 0)
            return nullptr;
        std::lock_guard lock(tableMutex);
        const auto it = streams.find(handle);
        return it == streams.end() ? nullptr : it->second;
    }

    std::vector<std::shared_ptr<AudioStream>> all() {
        std::lock_guard lock(tableMutex);
        std::vector<std::shared_ptr<AudioStream>> out;
        out.reserve(streams.size());
        for (const auto& entry : streams)
            out.push_back(entry.second);
        return out;
    }

    bool onOwnerThread() const { return initialised.load() && QThread::currentThread() == ownerThread; }

    // Calls apply on the output of every stream that has one; window thread only.
    template <class Apply> void forEachOutput(Apply apply) {
        if (!onOwnerThread())
            return;
        for (const auto& stream : all()) {
            std::lock_guard lock(stream->outputMutex);
            if (stream->output)
                apply(*stream->output);
        }
    }
};

AudioLibrary::AudioLibrary() : d(std::make_unique<Impl>()) {}

AudioLibrary::~AudioLibrary() {
    std::unordered_map<quint32, std::shared_ptr<AudioStream>> streams;
    {
        std::lock_guard lock(d->tableMutex);
        streams.swap(d->streams);
    }
    for (const auto& entry : streams)
        takeOutput(*entry.second).reset();
}

bool AudioLibrary::Init(int device, int freq) {
    if (d->initialised.load())
        return false;
    QAudioDevice chosen;
    if (device == kDefaultDevice || device >= 1) {
        // Device discovery needs the application object; without one there is no output.
        if (!QCoreApplication::instance())
            return false;
        if (device == kDefaultDevice) {
            chosen = QMediaDevices::defaultAudioOutput();
        } else {
            const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
            if (device <= outputs.size())
                chosen = outputs.at(device - 1);
        }
        if (chosen.isNull())
            return false;
    } else if (device != 0 && device != kNoSoundDevice) {
        return false;
    }
    d->device = chosen;
    d->hasDevice.store(!chosen.isNull());
    d->fallbackRate = freq > 0 ? freq : 44100;
    d->ownerThread = QThread::currentThread();
    d->initialised.store(true);
    return true;
}

bool AudioLibrary::HasOutputDevice() const {
    return d->hasDevice.load();
}

void AudioLibrary::SetVolume(float volume) {
    if (std::isnan(volume))
        return;
    volume = std::clamp(volume, 0.0f, 1.0f);
    d->volume.store(volume);
    d->forEachOutput([volume](auto& output) { output.setVolume(volume); });
}

void AudioLibrary::Start() {
    if (!d->onOwnerThread())
        return;
    d->paused = false;
    d->forEachOutput([](auto& output) { output.resume(); });
}

void AudioLibrary::Pause() {
    if (!d->onOwnerThread())
        return;
    d->paused = true;
    d->forEachOutput([](auto& output) { output.pause(); });
}

quint32 AudioLibrary::StreamCreateFile(const QString& path) {
    auto decoder = audio::AudioDecoder::open(path);
    if (!decoder)
        return 0;
    auto stream = std::make_shared<AudioStream>();
    stream->path = path;
    stream->sampleRate = decoder->sampleRate();
    stream->channels = decoder->channels();
    stream->decoder = std::move(decoder);

    std::lock_guard lock(d->tableMutex);
    quint32 handle = d->lastHandle;
    do {
        ++handle;
    } while (handle == 0 || d->streams.count(handle) != 0);
    d->lastHandle = handle;
    d->streams.emplace(handle, std::move(stream));
    return handle;
}

bool AudioLibrary::ChannelPlay(quint32 handle, bool restart) {
    const auto stream = d->find(handle);
    if (!stream || !d->onOwnerThread())
        return false;
    std::lock_guard lock(stream->outputMutex);
    if (!d->hasDevice.load()) {
        stream->playing->store(true);
        return true;
    }
    if (stream->output && !restart && !stream->output->playedOut()) {
        if (stream->output->isRunning())
            return true;
        // Stopped earlier: go on from where the decoder stands.
        if (!stream->output->start())
            return false;
        if (d->paused)
            stream->output->pause();
        return true;
    }
    stream->output.reset();
    const QAudioFormat format =
        chooseFormat(d->device, stream->sampleRate, stream->channels, d->fallbackRate);
    auto reader = audio::PcmReader::open(stream->path, pcmFormatOf(format));
    if (!reader)
        return false;
    ChannelPtr channel(
        new OutputChannel(d->device, format, std::move(reader), d->volume.load(), stream->playing));
    if (!channel->start())
        return false;
    if (d->paused)
        channel->pause();
    stream->output = std::move(channel);
    return true;
}

bool AudioLibrary::ChannelStop(quint32 handle) {
    const auto stream = d->find(handle);
    if (!stream)
        return false;
    std::lock_guard lock(stream->outputMutex);
    stream->playing->store(false);
    if (stream->output) {
        if (stream->output->thread() == QThread::currentThread()) {
            stream->output->stop();
        } else {
            OutputChannel* channel = stream->output.get();
            QMetaObject::invokeMethod(
                channel, [channel] { channel->stop(); }, Qt::QueuedConnection);
        }
    }
    return true;
}

bool AudioLibrary::StreamFree(quint32 handle) {
    std::shared_ptr<AudioStream> stream;
    {
        std::lock_guard lock(d->tableMutex);
        const auto it = d->streams.find(handle);
        if (handle == 0 || it == d->streams.end())
            return false;
        stream = std::move(it->second);
        d->streams.erase(it);
    }
    // Closed here, so that the sound stops now when this is the output's thread.
    takeOutput(*stream).reset();
    return true;
}

qint64 AudioLibrary::ChannelGetLength(quint32 handle) {
    const auto stream = d->find(handle);
    if (!stream)
        return -1;
    std::lock_guard lock(stream->scanMutex);
    if (!stream->samples) {
        if (!stream->decoder)
            return -1;
        stream->samples = stream->decoder->countSamples();
        stream->decoder.reset();
    }
    return *stream->samples * stream->channels * 2;
}

double AudioLibrary::ChannelBytes2Seconds(quint32 handle, qint64 bytes) {
    const auto stream = d->find(handle);
    if (!stream || bytes < 0)
        return -1.0;
    return static_cast<double>(bytes) / (static_cast<double>(stream->sampleRate) * stream->channels * 2.0);
}

AudioLibrary::ChannelState AudioLibrary::ChannelIsActive(quint32 handle) {
    const auto stream = d->find(handle);
    return stream && stream->playing->load() ? ChannelState::Playing : ChannelState::Stopped;
}

int MeasureDurationSeconds(AudioLibrary& audio, const QString& path) {
    const quint32 handle = audio.StreamCreateFile(path);
    const qint64 bytes = audio.ChannelGetLength(handle);
    const double seconds = audio.ChannelBytes2Seconds(handle, bytes);
    audio.StreamFree(handle);
    if (std::isnan(seconds))
        return -1;
    const double whole = std::trunc(seconds);
    if (whole >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (whole <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(whole);
}

} // namespace skarvel
