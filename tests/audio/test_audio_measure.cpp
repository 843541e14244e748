// Measuring sound files through the audio library. No QCoreApplication and no
// event loop here on purpose: the download job measures on a plain worker thread.
#include "audio/audio_decoder.h"
#include "audio/audio_library.h"
#include "common/file_ops.h"
#include "tests/audio/sound_files.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

using namespace skarvel;
using skarvel::test::Tone;

namespace {

struct SoundCase {
    const char* description;
    const char* file;
    Tone tone;
    QStringList encoder;
    // Files whose encoder leaves priming or padding samples in (ADTS AAC) measure a little long.
    qint64 extraSamplesAllowed;
};

const std::vector<SoundCase>& soundCases() {
    static const std::vector<SoundCase> cases = {
        {"WAV, mono, 44.1 kHz", "mono.wav", {44100, 1, 3.6}, {"-c:a", "pcm_s16le"}, 0},
        {"WAV, stereo, 22.05 kHz", "stereo.wav", {22050, 2, 7.2}, {"-c:a", "pcm_s16le"}, 0},
        {"WAV of 24-bit samples", "deep.wav", {48000, 2, 2.7}, {"-c:a", "pcm_s24le"}, 0},
        {"MP3, constant bit rate", "cbr.mp3", {44100, 2, 3.6}, {"-c:a", "libmp3lame", "-b:a", "128k"}, 0},
        {"MP3, variable bit rate", "vbr.mp3", {44100, 2, 7.2}, {"-c:a", "libmp3lame", "-q:a", "2"}, 0},
        // ffmpeg's MP3 muxer records the padding of half-rate files in steps of 25 samples.
        {"MP3, MPEG-2 half rate, mono, variable bit rate",
         "half.mp3",
         {22050, 1, 5.3},
         {"-c:a", "libmp3lame", "-q:a", "5"},
         24},
        {"Ogg Vorbis, stereo", "stereo.ogg", {44100, 2, 3.6}, {"-c:a", "libvorbis", "-q:a", "3"}, 0},
        {"Ogg Vorbis, mono, 48 kHz", "mono.ogg", {48000, 1, 7.2}, {"-c:a", "libvorbis"}, 0},
        {"Ogg Vorbis, six channels", "surround.ogg", {44100, 6, 2.4}, {"-c:a", "libvorbis"}, 0},
        {"AAC in ADTS, stereo", "stereo.aac", {44100, 2, 7.2}, {"-c:a", "aac", "-b:a", "128k"}, 3 * 1024},
        {"AAC in ADTS, mono", "mono.aac", {22050, 1, 3.6}, {"-c:a", "aac"}, 3 * 1024},
    };
    return cases;
}

class AudioMeasure : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new QTemporaryDir();
        ASSERT_TRUE(folder->isValid());
        for (const SoundCase& c : soundCases()) {
            ASSERT_TRUE(test::makeTone(path(c.file), c.tone, c.encoder)) << c.description;
        }
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static QString path(const QString& name) { return folder->filePath(name); }

    static QTemporaryDir* folder;
    AudioLibrary audio;
};
QTemporaryDir* AudioMeasure::folder = nullptr;

qint64 samplesOf(const Tone& tone) {
    return std::llround(tone.seconds * tone.rate);
}

TEST_F(AudioMeasure, LengthIsTheExactDecodedSampleCountAndDurationIsTruncated) {
    for (const SoundCase& c : soundCases()) {
        SCOPED_TRACE(c.description);
        const quint32 h = audio.StreamCreateFile(path(c.file));
        ASSERT_NE(h, 0u);
        const qint64 bytesPerSample = qint64(c.tone.channels) * 2;
        const qint64 bytes = audio.ChannelGetLength(h);
        ASSERT_EQ(bytes % bytesPerSample, 0);
        const qint64 samples = bytes / bytesPerSample;
        if (c.extraSamplesAllowed == 0) {
            EXPECT_EQ(samples, samplesOf(c.tone));
        } else {
            EXPECT_GE(samples, samplesOf(c.tone));
            EXPECT_LE(samples, samplesOf(c.tone) + c.extraSamplesAllowed);
        }
        // Asking twice gives the same answer without decoding again.
        EXPECT_EQ(audio.ChannelGetLength(h), bytes);
        EXPECT_DOUBLE_EQ(audio.ChannelBytes2Seconds(h, bytes), double(samples) / c.tone.rate);
        EXPECT_DOUBLE_EQ(audio.ChannelBytes2Seconds(h, bytesPerSample * c.tone.rate), 1.0);
        EXPECT_TRUE(audio.StreamFree(h));

        EXPECT_EQ(MeasureDurationSeconds(audio, path(c.file)), int(c.tone.seconds));
    }
}

TEST_F(AudioMeasure, VariableBitRateWithoutHeaderIsMeasuredByDecodingNotByBitRate) {
    // Twenty seconds of silence, then twenty of noise, with no Xing header: an
    // estimate from the first frames' bit rate is far off; counting is not.
    const QString file = path("no-xing.mp3");
    ASSERT_TRUE(test::runProgram("ffmpeg", {"-nostdin",
                                            "-v",
                                            "error",
                                            "-y",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "anullsrc=r=44100:cl=stereo:d=20",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "anoisesrc=r=44100:d=20:a=0.5",
                                            "-filter_complex",
                                            "[0:a][1:a]concat=n=2:v=0:a=1",
                                            "-c:a",
                                            "libmp3lame",
                                            "-q:a",
                                            "2",
                                            "-write_xing",
                                            "0",
                                            file}));
    const quint32 h = audio.StreamCreateFile(file);
    ASSERT_NE(h, 0u);
    const qint64 samples = audio.ChannelGetLength(h) / 4;
    // Without the encoder's header the decoder cannot drop its padding: at most two frames more.
    EXPECT_GE(samples, 40 * 44100);
    EXPECT_LE(samples, 40 * 44100 + 2 * 1152);
    audio.StreamFree(h);
    EXPECT_EQ(MeasureDurationSeconds(audio, file), 40);
}

TEST_F(AudioMeasure, SpeechKeepsItsExactLengthThroughLossyEncoders) {
    // Speech with pauses makes a variable bit rate really vary.
    // At 44.1 kHz: ffmpeg's own MP3 muxer rounds the padding it records for half-rate files.
    const QString spoken = path("spoken.wav");
    const QString wav = path("speech.wav");
    ASSERT_TRUE(test::runProgram("espeak-ng", {"-w", spoken,
                                               "Skarvel measures every sound it downloads, to the "
                                               "second, whatever its bit rate does meanwhile."}));
    ASSERT_TRUE(
        test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", spoken, "-ar", "44100", wav}));
    const auto source = audio::scanAudioFile(wav);
    ASSERT_TRUE(source);
    ASSERT_GT(source->samples, source->sampleRate * 3);
    const struct {
        const char* file;
        QStringList encoder;
    } cases[] = {
        {"speech.mp3", {"-c:a", "libmp3lame", "-q:a", "6"}},
        {"speech.ogg", {"-c:a", "libvorbis", "-q:a", "1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(test::runProgram("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y", "-i", wav}
                                                   << c.encoder << path(c.file)));
        const quint32 h = audio.StreamCreateFile(path(c.file));
        ASSERT_NE(h, 0u);
        EXPECT_EQ(audio.ChannelGetLength(h), source->samples * source->channels * 2);
        audio.StreamFree(h);
        EXPECT_EQ(MeasureDurationSeconds(audio, path(c.file)), int(source->samples / source->sampleRate));
    }
}

TEST_F(AudioMeasure, WavCutShortMeasuresTheSamplesItHolds) {
    QByteArray bytes = test::readFile(path("mono.wav"));
    ASSERT_GT(bytes.size(), 100000);
    const qsizetype dataStart = bytes.indexOf("data") + 8;
    ASSERT_GT(dataStart, 8);
    bytes.truncate(dataStart + 2 * 44100 * 2 + 2 * 22050); // 2.5 s of 16-bit mono
    test::writeFile(path("cut.wav"), bytes);

    const quint32 h = audio.StreamCreateFile(path("cut.wav"));
    ASSERT_NE(h, 0u);
    EXPECT_EQ(audio.ChannelGetLength(h), (2 * 44100 + 22050) * 2);
    audio.StreamFree(h);
    EXPECT_EQ(MeasureDurationSeconds(audio, path("cut.wav")), 2);
}

TEST_F(AudioMeasure, FilesThatAreNotSoundGiveHandleZeroAndDurationMinusOne) {
    QByteArray png;
    ASSERT_TRUE(test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                            "color=c=red:s=16x16:d=1", "-frames:v", "1", path("red.png")}));
    const QByteArray page = "<html><body>404 Not Found</body></html>\n";
    test::writeFile(path("page.txt"), page);
    test::writeFile(path("page.mp3"), page);
    test::writeFile(path("empty.mp3"), QByteArray());
    QByteArray noise(64 * 1024, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);
    test::writeFile(path("noise.ogg"), noise);
    QFile::copy(path("red.png"), path("picture.wav"));
    // A header that promises sound but holds only its first bytes.
    test::writeFile(path("stub.wav"), test::readFile(path("mono.wav")).left(30));
    QDir(folder->path()).mkdir("folder.mp3");

    const struct {
        const char* description;
        QString file;
    } cases[] = {
        {"a text page", path("page.txt")},
        {"a text page named .mp3", path("page.mp3")},
        {"an empty file", path("empty.mp3")},
        {"random bytes named .ogg", path("noise.ogg")},
        {"a PNG picture", path("red.png")},
        {"a PNG picture named .wav", path("picture.wav")},
        {"a WAV header cut inside", path("stub.wav")},
        {"a folder", path("folder.mp3")},
        {"a missing file", path("missing.mp3")},
        {"an empty path", QString()},
        {"a URL", QStringLiteral("http://127.0.0.1:1/sound.mp3")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(audio.StreamCreateFile(c.file), 0u);
        EXPECT_EQ(MeasureDurationSeconds(audio, c.file), -1);
    }
}

TEST_F(AudioMeasure, FileNamesWithColonsSpacesAndNonLatinLettersOpen) {
    const QString file = path("Песня: intro #1 ü.wav");
    ASSERT_TRUE(QFile::copy(path("mono.wav"), file));
    EXPECT_EQ(MeasureDurationSeconds(audio, file), 3);

    // A relative name with a colon is a file, not a protocol.
    ASSERT_TRUE(QFile::copy(path("mono.wav"), path("rtp:1.wav")));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder->path()));
    const int relative = MeasureDurationSeconds(audio, "rtp:1.wav");
    QDir::setCurrent(before);
    EXPECT_EQ(relative, 3);
}

// Downloading the sounds again replaces the file of a sound that plays: the player goes on with
// what it opened, and nothing of the old file is left once it lets go.
TEST_F(AudioMeasure, AFileBeingReadCanBeReplaced) {
    QTemporaryDir dir;
    const QString playing = dir.filePath("1.wav");
    ASSERT_TRUE(QFile::copy(path("stereo.wav"), playing));
    const audio::PcmFormat format{22050, 2, audio::PcmFormat::Sample::Int16};
    auto reader = audio::PcmReader::open(playing, format);
    ASSERT_TRUE(reader);
    std::vector<char> chunk(64 * 1024);
    qint64 frames = reader->read(chunk.data(), qint64(chunk.size())) / format.bytesPerFrame();

    ASSERT_TRUE(QFile::copy(path("mono.wav"), dir.filePath("download.part")));
    QString error;
    ASSERT_TRUE(RenameOver(dir.filePath("download.part"), playing, &error)) << error.toStdString();
    EXPECT_EQ(test::readFile(playing), test::readFile(path("mono.wav")));
    EXPECT_EQ(MeasureDurationSeconds(audio, playing), 3);
    for (qint64 n; (n = reader->read(chunk.data(), qint64(chunk.size()))) > 0;)
        frames += n / format.bytesPerFrame();
    EXPECT_NEAR(double(frames), 7.2 * 22050, 2.0);
    reader.reset();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"1.wav"});
}

TEST_F(AudioMeasure, BadHandlesFailHarmlessly) {
    const quint32 live = audio.StreamCreateFile(path("mono.wav"));
    ASSERT_NE(live, 0u);
    const quint32 freed = audio.StreamCreateFile(path("stereo.wav"));
    ASSERT_NE(freed, 0u);
    EXPECT_NE(live, freed);
    EXPECT_TRUE(audio.StreamFree(freed));

    for (const quint32 h : {0u, freed, freed + 1000u}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(audio.ChannelGetLength(h), -1);
        EXPECT_EQ(audio.ChannelBytes2Seconds(h, 176400), -1.0);
        EXPECT_FALSE(audio.ChannelPlay(h, false));
        EXPECT_FALSE(audio.ChannelStop(h));
        EXPECT_FALSE(audio.StreamFree(h));
        EXPECT_EQ(audio.ChannelIsActive(h), AudioLibrary::ChannelState::Stopped);
    }
    // The live stream is untouched by all of it.
    EXPECT_EQ(audio.ChannelGetLength(live), 158760 * 2);
    EXPECT_EQ(audio.ChannelBytes2Seconds(live, -1), -1.0);
    EXPECT_TRUE(audio.StreamFree(live));
    // A new stream never reuses a freed handle.
    const quint32 next = audio.StreamCreateFile(path("mono.wav"));
    EXPECT_NE(next, 0u);
    EXPECT_NE(next, live);
    EXPECT_NE(next, freed);
    audio.StreamFree(next);
}

TEST_F(AudioMeasure, PlayingNeedsInitButMeasuringDoesNot) {
    const quint32 h = audio.StreamCreateFile(path("cbr.mp3"));
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(audio.ChannelPlay(h, false));
    EXPECT_EQ(audio.ChannelIsActive(h), AudioLibrary::ChannelState::Stopped);
    EXPECT_EQ(audio.ChannelGetLength(h), 158760 * 4);
    EXPECT_TRUE(audio.ChannelStop(h));
    EXPECT_TRUE(audio.StreamFree(h));
}

TEST_F(AudioMeasure, ThreadsMeasureAtTheSameTimeWithHandlesOfTheirOwn) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 6;
    std::vector<std::vector<int>> durations(kThreads);
    std::vector<std::vector<quint32>> handles(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                const SoundCase& c = soundCases()[(t + r) % soundCases().size()];
                const quint32 h = audio.StreamCreateFile(path(c.file));
                handles[t].push_back(h);
                const double seconds = audio.ChannelBytes2Seconds(h, audio.ChannelGetLength(h));
                durations[t].push_back(int(seconds) - int(c.tone.seconds));
                audio.StreamFree(h);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<quint32> all;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(durations[t], std::vector<int>(kRounds, 0)) << "thread " << t;
        all.insert(all.end(), handles[t].begin(), handles[t].end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a handle was given out twice";
    EXPECT_EQ(std::count(all.begin(), all.end(), 0u), 0);
}

TEST_F(AudioMeasure, PcmReaderConvertsToTheOutputFormatWholeFramesOnly) {
    // The player's decoding path: 22.05 kHz stereo WAV of 7.2 s to 44.1 kHz mono and stereo.
    const struct {
        const char* description;
        audio::PcmFormat format;
        double peak;
    } cases[] = {
        // The file's tone peaks at 1/8 of full scale less 3 dB (ffmpeg spreads mono over two
        // channels so); mixing both channels to mono brings back the 1/8.
        {"16-bit stereo at twice the rate",
         {44100, 2, audio::PcmFormat::Sample::Int16},
         0.125 / std::sqrt(2.0)},
        {"float mono at the same rate", {22050, 1, audio::PcmFormat::Sample::Float}, 0.125},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        auto reader = audio::PcmReader::open(path("stereo.wav"), c.format);
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->sourceSampleRate(), 22050);
        EXPECT_EQ(reader->sourceChannels(), 2);
        const qint64 frameBytes = c.format.bytesPerFrame();
        QByteArray all;
        std::vector<char> chunk(1001); // not a multiple of any frame size
        double peak = 0;
        for (;;) {
            const qint64 n = reader->read(chunk.data(), qint64(chunk.size()));
            ASSERT_GE(n, 0);
            ASSERT_EQ(n % frameBytes, 0);
            if (n == 0)
                break;
            all.append(chunk.data(), n);
        }
        EXPECT_TRUE(reader->atEnd());
        const qint64 frames = all.size() / frameBytes;
        const qint64 expected = std::llround(7.2 * c.format.sampleRate);
        EXPECT_NEAR(double(frames), double(expected), 2.0);
        for (qint64 i = 0; i < frames; ++i) {
            const double v =
                c.format.sample == audio::PcmFormat::Sample::Int16
                    ? std::abs(reinterpret_cast<const qint16*>(all.constData())[i * c.format.channels]) /
                          32768.0
                    : std::abs(reinterpret_cast<const float*>(all.constData())[i * c.format.channels]);
            peak = std::max(peak, v);
        }
        EXPECT_NEAR(peak, c.peak, 0.005);
    }
}

} // namespace
