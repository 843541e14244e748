// Sound reaching a real output device: a private PulseAudio server with a null sink
// plays it, and its monitor records it back. Skipped where pulseaudio is missing.
#include "audio/audio_library.h"
#include "tests/audio/pulse_server.h"
#include "tests/audio/sound_files.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMediaDevices>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

using namespace skarvel;
using skarvel::test::Tone;
using State = AudioLibrary::ChannelState;

namespace {

QString g_skipReason;

void pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Waits for the stream to play out; a generous bound keeps a broken build from hanging.
bool waitUntilStopped(AudioLibrary& audio, quint32 h) {
    const QDeadlineTimer deadline(60000);
    while (audio.ChannelIsActive(h) == State::Playing && !deadline.hasExpired())
        pump();
    return audio.ChannelIsActive(h) == State::Stopped;
}

// Records the null sink's monitor: everything the library sends to the device.
class Recorder {
public:
    Recorder() {
        for (const QAudioDevice& input : QMediaDevices::audioInputs()) {
            if (input.id() == "capture")
                monitor_ = input;
        }
        QAudioFormat format;
        format.setSampleRate(44100);
        format.setChannelCount(2);
        format.setSampleFormat(QAudioFormat::Int16);
        source_ = std::make_unique<QAudioSource>(monitor_, format);
        buffer_.open(QIODevice::WriteOnly);
        source_->start(&buffer_);
    }
    bool ok() const { return !monitor_.isNull() && source_->error() == QAudio::NoError; }

    // The monitor hears only what plays after its stream has begun: true once samples arrive.
    bool waitUntilRecording() {
        const QDeadlineTimer deadline(kDeviceWaitMs);
        while (buffer_.data().isEmpty() && !deadline.hasExpired())
            pump();
        return !buffer_.data().isEmpty();
    }
    // True once the recording holds a sound followed by quiet: the sound's last period has come through
    // the monitor, however late a busy machine delivers it.
    bool waitForQuietAfterSound() {
        const QDeadlineTimer deadline(kDeviceWaitMs);
        while (!quietAfterSound() && !deadline.hasExpired())
            pump();
        return quietAfterSound();
    }

    struct Heard {
        double peak = 0;    // highest absolute sample, as a fraction of full scale
        double seconds = 0; // from the first sample above the noise floor to the last
    };
    Heard stop() {
        source_->stop();
        return measure();
    }

private:
    static constexpr int kDeviceWaitMs = 60000;
    static constexpr int kNoiseFloor = 64;
    static constexpr qsizetype kQuietFrames = 44100 / 5;

    bool quietAfterSound() const {
        const QByteArray& data = buffer_.data();
        const auto* samples = reinterpret_cast<const qint16*>(data.constData());
        qsizetype i = data.size() / 2;
        qsizetype quiet = 0;
        while (i > 0 && std::abs(int(samples[i - 1])) <= kNoiseFloor) {
            --i;
            ++quiet;
        }
        return i > 0 && quiet / 2 >= kQuietFrames;
    }
    Heard measure() const {
        const QByteArray& data = buffer_.data();
        const auto* samples = reinterpret_cast<const qint16*>(data.constData());
        const qsizetype count = data.size() / 2;
        Heard heard;
        qsizetype first = -1, last = -1;
        for (qsizetype i = 0; i < count; ++i) {
            const int v = std::abs(int(samples[i]));
            heard.peak = std::max(heard.peak, v / 32768.0);
            if (v > kNoiseFloor) {
                if (first < 0)
                    first = i;
                last = i;
            }
        }
        if (first >= 0)
            heard.seconds = double(last / 2 - first / 2 + 1) / 44100.0;
        return heard;
    }

    QAudioDevice monitor_;
    std::unique_ptr<QAudioSource> source_;
    QBuffer buffer_;
};

class AudioOutput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_skipReason.isEmpty())
            return;
        folder = new QTemporaryDir();
        ASSERT_TRUE(folder->isValid());
        ASSERT_TRUE(test::makeTone(path("tone.mp3"), {44100, 2, 1.2}, {"-c:a", "libmp3lame", "-q:a", "4"}));
        ASSERT_TRUE(test::makeTone(path("mono.ogg"), {48000, 1, 0.8}, {"-c:a", "libvorbis"}));
        ASSERT_TRUE(test::makeTone(path("low.wav"), {8000, 1, 0.8}, {"-c:a", "pcm_s16le"}));
        ASSERT_TRUE(test::makeTone(path("surround.ogg"), {44100, 6, 0.8}, {"-c:a", "libvorbis"}));
        ASSERT_TRUE(test::makeTone(path("stereo.aac"), {44100, 2, 0.8}, {"-c:a", "aac"}));
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    void SetUp() override {
        if (!g_skipReason.isEmpty())
            GTEST_SKIP() << qPrintable(g_skipReason);
        ASSERT_TRUE(audio.Init(AudioLibrary::kDefaultDevice, 44100));
        ASSERT_TRUE(audio.HasOutputDevice());
        audio.SetVolume(1.0f);
        audio.Start();
    }
    static QString path(const QString& name) { return folder->filePath(name); }

    // Plays a file to its end while recording what the device got.
    Recorder::Heard playAndRecord(const QString& file) {
        Recorder recorder;
        EXPECT_TRUE(recorder.ok());
        EXPECT_TRUE(recorder.waitUntilRecording());
        const quint32 h = audio.StreamCreateFile(file);
        EXPECT_NE(h, 0u);
        EXPECT_TRUE(audio.ChannelPlay(h, false));
        EXPECT_TRUE(waitUntilStopped(audio, h));
        EXPECT_TRUE(recorder.waitForQuietAfterSound());
        audio.StreamFree(h);
        return recorder.stop();
    }

    static QTemporaryDir* folder;
    AudioLibrary audio;
};
QTemporaryDir* AudioOutput::folder = nullptr;

TEST_F(AudioOutput, EveryFormatReachesTheDeviceWhole) {
    const struct {
        const char* file;
        double seconds;
    } cases[] = {
        {"tone.mp3", 1.2}, {"mono.ogg", 0.8}, {"low.wav", 0.8}, {"surround.ogg", 0.8}, {"stereo.aac", 0.8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Recorder::Heard heard = playAndRecord(path(c.file));
        // The tone peaks at 1/8 of full scale (less after the server mixes six channels
        // down to two): silence and a misread sample format (noise near full scale) fall outside.
        EXPECT_GT(heard.peak, 0.03);
        EXPECT_LT(heard.peak, 0.2);
        // Nothing cut off at either end; gaps from a busy machine could only lengthen it.
        EXPECT_GE(heard.seconds, c.seconds - 0.005);
    }
}

TEST_F(AudioOutput, VolumeScalesTheOutput) {
    const double full = playAndRecord(path("tone.mp3")).peak;
    audio.SetVolume(0.25f);
    const double quarter = playAndRecord(path("tone.mp3")).peak;
    ASSERT_GT(full, 0.07);
    EXPECT_NEAR(quarter / full, 0.25, 0.03);
}

TEST_F(AudioOutput, PauseHoldsTheSoundAndStartGoesOn) {
    const quint32 h = audio.StreamCreateFile(path("tone.mp3"));
    ASSERT_TRUE(audio.ChannelPlay(h, false));
    pump();
    audio.Pause();
    // Held for longer than the sound lasts, it has still not played out.
    const QDeadlineTimer hold(2500);
    while (!hold.hasExpired())
        pump();
    EXPECT_EQ(audio.ChannelIsActive(h), State::Playing);
    audio.Start();
    EXPECT_TRUE(waitUntilStopped(audio, h));
    audio.StreamFree(h);
}

TEST_F(AudioOutput, AStreamThatPlayedOutStartsAgain) {
    const quint32 h = audio.StreamCreateFile(path("low.wav"));
    ASSERT_TRUE(audio.ChannelPlay(h, false));
    ASSERT_TRUE(waitUntilStopped(audio, h));
    EXPECT_TRUE(audio.ChannelPlay(h, false));
    EXPECT_EQ(audio.ChannelIsActive(h), State::Playing);
    EXPECT_TRUE(waitUntilStopped(audio, h));
    EXPECT_TRUE(audio.StreamFree(h));
}

} // namespace

int main(int argc, char** argv) {
    // Declared first so that it outlives the application and every audio object.
    test::PulseServer server;
    QString why;
    if (!server.start(&why))
        g_skipReason = why;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
