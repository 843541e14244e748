// Fuzz target: reading the settings file, and writing the two settings back into it.
// The input is the file's content.
#include "common/file_ops.h"
#include "common/settings.h"
#include "fuzz/fuzz_input.h"

#include <QTemporaryDir>

namespace {

using namespace skarvel;

const AppEnvironment& environment() {
    static QTemporaryDir folder; // under TMPDIR: scripts/fuzz.sh points it at memory
    static const AppEnvironment env{folder.path(), folder.path()};
    return env;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const AppEnvironment& env = environment();
    const QString path = SettingsPath(env);
    FUZZ_CHECK(WriteWholeFile(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))));

    const StartupSettings before = ReadStartupSettings(env);
    FUZZ_CHECK(before.fileExists);

    const QString folder = QStringLiteral("C:\\Skarvel work\\");
    const QString style = QStringLiteral("Aqua Graphite");
    FUZZ_CHECK(WriteSettings(env, folder, style));
    const StartupSettings after = ReadStartupSettings(env);
    FUZZ_CHECK(after.workFolder == folder);
    FUZZ_CHECK(after.style == style);

    // Writing the same values again changes nothing.
    QByteArray once, twice;
    FUZZ_CHECK(ReadWholeFile(path, once));
    FUZZ_CHECK(WriteSettings(env, folder, style));
    FUZZ_CHECK(ReadWholeFile(path, twice));
    FUZZ_CHECK(once == twice);
    return 0;
}
