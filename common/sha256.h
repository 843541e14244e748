#pragma once
// SHA-256 of bytes and of files. OpenSSL's where the build has it: it uses the processor's
// SHA instructions and runs some thirty times faster than QCryptographicHash, which serves
// otherwise.
#include <QByteArray>
#include <QString>

namespace skarvel {

// The 32-byte digest.
QByteArray Sha256(const QByteArray& bytes);

// The digest of the file's bytes, read in pieces. False, with the reason in *error, when the
// file cannot be read.
[[nodiscard]] bool Sha256OfFile(const QString& path, QByteArray& digest, QString* error = nullptr);

} // namespace skarvel
