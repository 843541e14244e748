#pragma once
// What a row's local file was found to hold, kept with the row (never shown in a cell), so
// that comparing rows by content reads only the files that changed since.
#include <QByteArray>
#include <QString>

#include <cstdint>

namespace skarvel {

struct ContentFingerprint {
    // The file it was taken from, as it was then: a file that differs now is read again.
    QString path;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    quint64 fileId = 0;
    QByteArray sha256; // of the file's bytes; empty when not taken
    // A picture that decodes: its size and perceptual hash. decodeTried: its kind's decoder ran, so a
    // file that did not decode need not be tried again (until its kind becomes known, it is not).
    bool decoded = false;
    bool decodeTried = false;
    int width = 0;
    int height = 0;
    std::uint64_t perceptualHash = 0;
};

} // namespace skarvel
