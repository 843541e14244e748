// Playing through the audio library as the main window does, with or without an
// output device; the test runs on a thread with a QCoreApplication, like the window.
#include "audio/audio_library.h"
#include "tests/audio/sound_files.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace skarvel;
using skarvel::test::Tone;
using State = AudioLibrary::ChannelState;

namespace {

class AudioPlayer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new QTemporaryDir();
        ASSERT_TRUE(folder->isValid());
        // Long enough to still play on a real device while the other thread measures.
        ASSERT_TRUE(test::makeTone(path("long.ogg"), {44100, 2, 120.5}, {"-c:a", "libvorbis"}));
        ASSERT_TRUE(test::makeTone(path("tone.mp3"), {44100, 2, 3.6}, {"-c:a", "libmp3lame", "-q:a", "4"}));
        ASSERT_TRUE(test::makeTone(path("short.wav"), {22050, 1, 0.4}, {"-c:a", "pcm_s16le"}));
        ASSERT_TRUE(test::makeTone(path("mono.aac"), {44100, 1, 7.2}, {"-c:a", "aac"}));
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static QString path(const QString& name) { return folder->filePath(name); }

    // What the window does at start-up.
    void startUp() {
        if (!audio.Init(AudioLibrary::kDefaultDevice, 44100))
            audio.Init(AudioLibrary::kNoSoundDevice, 44100);
        audio.SetVolume(1.0f);
        audio.Start();
    }

    static void pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

    static QTemporaryDir* folder;
    AudioLibrary audio;
};
QTemporaryDir* AudioPlayer::folder = nullptr;

TEST_F(AudioPlayer, InitFallsBackToNoSoundAndRunsOnce) {
    const bool device = audio.Init(AudioLibrary::kDefaultDevice, 44100);
    EXPECT_EQ(audio.HasOutputDevice(), device);
    if (!device) {
        EXPECT_TRUE(audio.Init(AudioLibrary::kNoSoundDevice, 44100));
        EXPECT_FALSE(audio.HasOutputDevice());
    }
    EXPECT_FALSE(audio.Init(AudioLibrary::kNoSoundDevice, 44100)) << "already initialised";
    EXPECT_FALSE(audio.Init(AudioLibrary::kDefaultDevice, 44100)) << "already initialised";

    AudioLibrary other;
    EXPECT_FALSE(other.Init(-3, 44100));
    EXPECT_FALSE(other.Init(1000, 44100)) << "no machine has a thousandth output";
    EXPECT_TRUE(other.Init(0, 44100));
    EXPECT_FALSE(other.HasOutputDevice());
}

TEST_F(AudioPlayer, PlayAndStopAsTheWindowDoes) {
    startUp();
    quint32 player = 0;

    // "Stop" before anything played: both calls fail and nothing else happens.
    EXPECT_FALSE(audio.ChannelStop(player));
    EXPECT_FALSE(audio.StreamFree(player));

    // "Play": stop and free the old stream (none yet), open the file, play it.
    audio.ChannelStop(player);
    audio.StreamFree(player);
    player = audio.StreamCreateFile(path("long.ogg"));
    ASSERT_NE(player, 0u);
    EXPECT_TRUE(audio.ChannelPlay(player, false));
    pump();
    EXPECT_EQ(audio.ChannelIsActive(player), State::Playing);
    EXPECT_TRUE(audio.ChannelPlay(player, false)) << "playing on is not an error";

    // "Play" on another row replaces the stream.
    const quint32 previous = player;
    EXPECT_TRUE(audio.ChannelStop(player));
    EXPECT_TRUE(audio.StreamFree(player));
    EXPECT_EQ(audio.ChannelIsActive(previous), State::Stopped);
    player = audio.StreamCreateFile(path("tone.mp3"));
    ASSERT_NE(player, 0u);
    EXPECT_TRUE(audio.ChannelPlay(player, false));
    EXPECT_TRUE(audio.ChannelPlay(player, true));
    pump();

    // "Stop", then "Stop" again.
    EXPECT_TRUE(audio.ChannelStop(player));
    EXPECT_EQ(audio.ChannelIsActive(player), State::Stopped);
    EXPECT_TRUE(audio.StreamFree(player));
    EXPECT_FALSE(audio.ChannelStop(player));
    EXPECT_FALSE(audio.StreamFree(player));
    pump();

    // "Play" on a file that is not sound: the old stream is gone, the new handle is 0.
    test::writeFile(path("page.mp3"), "<html>gone</html>");
    player = audio.StreamCreateFile(path("page.mp3"));
    EXPECT_EQ(player, 0u);
    EXPECT_FALSE(audio.ChannelPlay(player, false));

    // A stream left playing is closed with the library.
    player = audio.StreamCreateFile(path("mono.aac"));
    EXPECT_TRUE(audio.ChannelPlay(player, false));
    pump();
}

TEST_F(AudioPlayer, MeasuringOnAnotherThreadLeavesThePlayerStreamAlone) {
    startUp();
    const quint32 player = audio.StreamCreateFile(path("long.ogg"));
    ASSERT_NE(player, 0u);
    ASSERT_TRUE(audio.ChannelPlay(player, false));

    const QString files[] = {path("tone.mp3"), path("mono.aac"), path("short.wav"), path("missing.wav")};
    const int expected[] = {3, 7, 0, -1};
    std::vector<int> measured;
    std::vector<quint32> handles;
    std::atomic<bool> done{false};
    std::thread job([&] {
        for (int round = 0; round < 3; ++round) {
            for (const QString& file : files) {
                const quint32 h = audio.StreamCreateFile(file);
                handles.push_back(h);
                measured.push_back(int(audio.ChannelBytes2Seconds(h, audio.ChannelGetLength(h))));
                audio.ChannelStop(h);
                audio.StreamFree(h);
            }
        }
        done = true;
    });
    // The window thread keeps serving its event loop meanwhile.
    while (!done)
        pump();
    job.join();

    for (std::size_t i = 0; i < measured.size(); ++i)
        EXPECT_EQ(measured[i], expected[i % 4]) << "measurement " << i;
    for (const quint32 h : handles)
        EXPECT_NE(h, player);
    EXPECT_EQ(audio.ChannelIsActive(player), State::Playing);
    EXPECT_EQ(audio.ChannelGetLength(player), qint64(120.5 * 44100) * 4);
    EXPECT_TRUE(audio.ChannelStop(player));
    EXPECT_TRUE(audio.StreamFree(player));
}

TEST_F(AudioPlayer, OnlyTheThreadThatInitialisedPlays) {
    startUp();
    const quint32 h = audio.StreamCreateFile(path("tone.mp3"));
    ASSERT_NE(h, 0u);
    bool playedElsewhere = true;
    std::thread other([&] { playedElsewhere = audio.ChannelPlay(h, false); });
    other.join();
    EXPECT_FALSE(playedElsewhere);
    EXPECT_EQ(audio.ChannelIsActive(h), State::Stopped);
    EXPECT_TRUE(audio.ChannelPlay(h, false));
    EXPECT_EQ(audio.ChannelIsActive(h), State::Playing);
    EXPECT_TRUE(audio.StreamFree(h));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
