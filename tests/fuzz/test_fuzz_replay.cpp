// Every seed and regression input of every fuzz target, run once through the target's
// entry function: a parser that crashes, hangs or breaks an invariant on one of them
// (the entry functions abort) fails this test.
#include "fuzz_entries.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Files named "open-*" are findings reported to the parser's owner and not fixed yet:
// they are listed, not run, until the fix drops the prefix.
QStringList inputsIn(const QString& folder, QStringList* open = nullptr) {
    QStringList paths;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (name.startsWith(QLatin1String("open-")) && open)
            open->append(dir.filePath(name));
        else
            paths.append(dir.filePath(name));
    }
    return paths;
}

QString sourcePath(const char* relative, const char* target) {
    return QStringLiteral(SKARVEL_SOURCE_DIR "/") + QLatin1String(relative) + QLatin1String(target);
}

class FuzzReplay : public testing::TestWithParam<FuzzEntry> {};

TEST_P(FuzzReplay, EveryInputPasses) {
    const FuzzEntry entry = GetParam();
    const QStringList seeds = inputsIn(sourcePath("fuzz/seeds/", entry.name));
    // An empty seed folder would leave the target unexercised here and unseeded in a run.
    ASSERT_FALSE(seeds.isEmpty()) << "no seeds for " << entry.name;
    QStringList open;
    const QStringList inputs = seeds + inputsIn(sourcePath("tests/fixtures/fuzz/", entry.name), &open);
    for (const QString& path : open)
        std::fprintf(stderr, "open finding, not replayed: %s\n", qPrintable(path));
    for (const QString& path : inputs) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // The entries abort on a broken invariant, and an abort ends the process before
        // gtest can print the trace: name the input first.
        std::fprintf(stderr, "replay %s\n", qPrintable(path));
        entry.run(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(kFuzzEntries),
                         [](const testing::TestParamInfo<FuzzEntry>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
