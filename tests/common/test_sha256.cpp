#include "common/sha256.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace skarvel;

namespace {

std::string Hex(const QByteArray& digest) {
    return digest.toHex().toStdString();
}

TEST(Sha256, KnownDigestsAndQtsOwnAgree) {
    EXPECT_EQ(Hex(Sha256({})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::mt19937 random(3);
    for (int size : {1, 55, 56, 64, 1000, 1 << 20}) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char& c : bytes)
            c = char(random());
        EXPECT_EQ(Hex(Sha256(bytes)), Hex(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)))
            << size;
    }
}

TEST(Sha256, AFileIsReadInPiecesAndAMissingOneFails) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray bytes(3 * (1 << 20) + 17, Qt::Uninitialized); // more than one piece
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 1000);
    const QString path = dir.filePath(QStringLiteral("f.bin"));
    test::writeFile(path, bytes);
    QByteArray digest;
    ASSERT_TRUE(Sha256OfFile(path, digest));
    EXPECT_EQ(Hex(digest), Hex(Sha256(bytes)));

    QString error;
    EXPECT_FALSE(Sha256OfFile(dir.filePath(QStringLiteral("missing")), digest, &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
