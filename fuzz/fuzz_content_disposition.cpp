// Fuzz target: the file name of a Content-Disposition value, and the safe local name
// made from it and from the raw value.
#include "fuzz/fuzz_input.h"
#include "net/content_disposition.h"

namespace {

using namespace skarvel;

void checkSafeName(const QString& name) {
    const QString safe = SafeLocalFileName(name);
    if (safe.isEmpty())
        return;
    FUZZ_CHECK(!safe.contains(u'/') && !safe.contains(u'\\'));
    for (const QChar c : safe)
        FUZZ_CHECK(c.category() != QChar::Other_Control);
    FUZZ_CHECK(safe != u"." && safe != u"..");
    FUZZ_CHECK(safe.toUtf8().size() <= 255);
    FUZZ_CHECK(safe == safe.trimmed());
    FUZZ_CHECK(SafeLocalFileName(safe) == safe);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString value = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> name = ContentDispositionFileName(value);
    if (name) {
        FUZZ_CHECK(!name->isEmpty());
        checkSafeName(*name);
    }
    checkSafeName(value);
    return 0;
}
