#pragma once
// Sound files for the audio tests, made on the spot by ffmpeg.
#include <QString>
#include <QStringList>

namespace skarvel::test {

struct Tone {
    int rate = 44100;
    int channels = 1;
    double seconds = 1.0;
};

// Runs a program with its arguments, no shell; true when it exits with 0.
bool runProgram(const QString& program, const QStringList& args);

// A 440 Hz sine tone of exactly tone.seconds, encoded with the given ffmpeg
// output options into path (the container follows the file name).
bool makeTone(const QString& path, const Tone& tone, const QStringList& encoderArgs);

} // namespace skarvel::test
