// The shortcut of AddressResolver against the general path through QUrl::resolved:
// every reference, whichever path takes it, resolves to the same address, name and extension.
#include "service/analysis_internal.h"

#include "tests/service/qt_printers.h"

#include <gtest/gtest.h>

using namespace skarvel;
using namespace skarvel::analysis;

namespace {

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

struct RefCase {
    const char* ref;
    bool shortcut; // the reference is expected to skip QUrl (on a base that allows it)
};

const RefCase kRefs[] = {
    {"pic.jpg", true},
    {"a/b/c.PNG", true},
    {"sub/", true},
    {"/root.jpg", true},
    {"/", true},
    {".hidden.png", true},
    {"...", false},
    {"a'b(c)!*$&+,;=@~_-.jpg", true},
    {"mailto@x.jpg", true},
    {"  \n pic.jpg \t", true}, // whitespace trimmed
    {"\x01pic.jpg\x1f", true},
    {"//cdn.example.net/x.jpg", false}, // protocol-relative
    {"../up.jpg", false},
    {"./a/../b.jpg", false},
    {"a/./b.jpg", false},
    {"a/..", false},
    {"a//b.jpg", false},
    {"?page=2", false}, // query only
    {"#frag", false},
    {"pic.jpg#frag", false},
    {"pic.jpg?x=1&y=%41", false},
    {"https://other.org/a b.jpg#frag", false}, // absolute
    {"HTTP://Example.COM", false},
    {"a:b.jpg", false},
    {"data:image/png;base64,iVBORw0KGgo=", false},
    {"javascript:void(0)", false},
    {"pi\nc.jpg", false},
    {"img\\sub\\x.jpg", false},
    {"\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe.jpg", false}, // non-ASCII
    {"100%.jpg", false},
    {"a%20b.jpg", false},
    {"a%2Fb.jpg", false},
    {"a b.jpg", false},
    {"[x].jpg", false},
    {"a|b\"c^d`e{f}.jpg", false},
    {"", false},
    {"   ", false},
};

struct Expected {
    QString text;
    QString name;
    QString extension;
};

std::optional<Expected> throughQUrl(const QUrl& base, QStringView ref, bool upgrade) {
    std::optional<QUrl> url = resolveReference(base, ref);
    if (!url)
        return std::nullopt;
    if (upgrade)
        url = upgradedToHttps(*url);
    return Expected{url->toString(QUrl::FullyEncoded), originalNameOf(*url), urlExtension(*url)};
}

TEST(AddressResolver, EveryReferenceResolvesAsQUrlResolvesIt) {
    const struct {
        const char* base;
        bool allowsShortcut;
    } bases[] = {
        {"http://example.com/dir/page.html", true},
        {"https://example.com", true},
        {"http://Example.COM:8080/a/b/?q=1#f", true},
        {"http://example.com:80/a/../b/./c.html", true},
        {"http://user:pw@example.com/x%20y/z.html", true},
        {"http://xn--bcher-kva.de/\xd1\x84/", true},
        {"http://[::1]:8080/v6/", true},
        {"ftp://example.com/files/", false},
    };
    for (const auto& b : bases) {
        const QUrl base(u8(b.base));
        for (const bool upgrade : {false, true}) {
            AddressResolver resolver(base);
            resolver.setUpgradeInsecure(upgrade);
            for (const RefCase& c : kRefs) {
                const QString ref = u8(c.ref);
                const std::string context = QStringLiteral("base %1, ref \"%2\", upgrade %3")
                                                .arg(u8(b.base), ref, upgrade ? u"on" : u"off")
                                                .toStdString();
                const std::optional<Expected> expected = throughQUrl(base, ref, upgrade);
                const std::optional<ResolvedAddress> got = resolver.resolve(ref);
                ASSERT_EQ(got.has_value(), expected.has_value()) << context;
                if (!got)
                    continue;
                EXPECT_EQ(got->text, expected->text) << context;
                EXPECT_EQ(got->originalName(), expected->name) << context;
                EXPECT_EQ(got->extension(), expected->extension) << context;
                EXPECT_EQ(!got->url, c.shortcut && b.allowsShortcut) << context;
            }
        }
    }
}

TEST(AddressResolver, UpgradeCanBeSwitchedOffAgain) {
    AddressResolver resolver(QUrl(QStringLiteral("http://example.com:80/dir/")));
    resolver.setUpgradeInsecure(true);
    EXPECT_EQ(resolver.resolve(u"a.jpg")->text, u"https://example.com/dir/a.jpg");
    resolver.setUpgradeInsecure(false);
    EXPECT_EQ(resolver.resolve(u"a.jpg")->text, u"http://example.com:80/dir/a.jpg");
}

TEST(AddressSet, EachTextIsNewOnceAcrossGrowth) {
    AddressSet set;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 5000; ++i)
            EXPECT_EQ(set.insert(QStringLiteral("https://example.com/%1.jpg").arg(i)), round == 0) << i;
    }
    EXPECT_TRUE(set.insert(QString()));
    EXPECT_FALSE(set.insert(QString()));
}

} // namespace
