#pragma once
// The audio library: sound streams opened from files, measured exactly and played
// on the default output device. Streams are numbered handles; a call with handle 0
// or with a handle already freed fails and changes nothing.
//
// Threads: the thread that calls Init owns the output (it needs an event loop, as
// the window thread has). Any thread may open, measure and free streams of its own
// at the same time; such streams never touch the output.
#include <QString>
#include <QtGlobal>

#include <memory>

namespace skarvel {

class AudioLibrary {
public:
    static constexpr int kDefaultDevice = -1;
    static constexpr int kNoSoundDevice = -2; // 0 means "no sound" as well

    enum class ChannelState { Stopped, Playing };

    AudioLibrary();
    // Destroy on the thread that called Init: it closes the output channels.
    ~AudioLibrary();
    AudioLibrary(const AudioLibrary&) = delete;
    AudioLibrary& operator=(const AudioLibrary&) = delete;

    // device: -1 the system's default output, 0 or -2 no sound (streams "play"
    // silently), n >= 1 the n-th output device. freq: the output rate used when a
    // device cannot take a stream's own rate. False when the device is missing or
    // the library is already initialised.
    bool Init(int device, int freq);
    // Output volume 0..1 for every channel, present and future.
    void SetVolume(float volume);
    // The output runs from Init on; Pause suspends every playing channel, Start resumes them.
    void Start();
    void Pause();

    // Opens a sound file: 0 when it cannot be read or is not sound. Works without
    // Init and without an event loop.
    quint32 StreamCreateFile(const QString& path);
    // Plays the stream on the output. restart: from the start; otherwise a stopped
    // stream goes on where it stopped and a playing one plays on. Owner thread only;
    // false for a bad handle, before Init or when the device refuses the stream.
    bool ChannelPlay(quint32 handle, bool restart);
    // Stops playing, keeping the position; true for any valid handle.
    bool ChannelStop(quint32 handle);
    // Stops and closes the stream; the handle becomes invalid.
    bool StreamFree(quint32 handle);
    // Exact decoded length in bytes of 16-bit samples at the stream's own rate and
    // channel count; the first call decodes the whole file. -1 for a bad handle.
    qint64 ChannelGetLength(quint32 handle);
    // bytes / (rate * channels * 2); -1 for a bad handle or a negative byte count.
    double ChannelBytes2Seconds(quint32 handle, qint64 bytes);
    // Playing from ChannelPlay until stopped, freed or (with a device) played out.
    ChannelState ChannelIsActive(quint32 handle);

    // True once Init chose a real output device.
    bool HasOutputDevice() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Duration of a sound file in whole seconds, truncated toward zero: open, length,
// bytes to seconds, free. -1 for a file that cannot be opened as sound.
int MeasureDurationSeconds(AudioLibrary& audio, const QString& path);

} // namespace skarvel
