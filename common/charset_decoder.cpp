#include "common/charset_decoder.h"

#include <QByteArray>

#ifdef _WIN32
#include <windows.h>

#include <climits>
#include <cstring>
#endif

namespace skarvel {

#ifdef _WIN32
namespace {

unsigned codePageFor(QByteArrayView name) {
    const QByteArray label = name.toByteArray().trimmed().toLower();
    static const struct {
        const char* label;
        unsigned codePage;
    } table[] = {
        {"windows-1250", 1250},  {"cp1250", 1250},       {"x-cp1250", 1250},      {"windows-1251", 1251},
        {"cp1251", 1251},        {"x-cp1251", 1251},     {"windows-1252", 1252},  {"cp1252", 1252},
        {"x-cp1252", 1252},      {"us-ascii", 1252},     {"ascii", 1252},         {"windows-1253", 1253},
        {"cp1253", 1253},        {"windows-1254", 1254}, {"cp1254", 1254},        {"iso-8859-9", 1254},
        {"latin5", 1254},        {"windows-1255", 1255}, {"cp1255", 1255},        {"windows-1256", 1256},
        {"cp1256", 1256},        {"windows-1257", 1257}, {"cp1257", 1257},        {"windows-1258", 1258},
        {"cp1258", 1258},        {"windows-874", 874},   {"tis-620", 874},        {"iso-8859-11", 874},
        {"iso-8859-2", 28592},   {"latin2", 28592},      {"iso-8859-3", 28593},   {"iso-8859-4", 28594},
        {"iso-8859-5", 28595},   {"iso-8859-6", 28596},  {"iso-8859-7", 28597},   {"iso-8859-8", 28598},
        {"iso-8859-8-i", 38598}, {"iso-8859-13", 28603}, {"iso-8859-15", 28605},  {"latin9", 28605},
        {"koi8-r", 20866},       {"koi8", 20866},        {"koi8-u", 21866},       {"koi8-ru", 21866},
        {"ibm866", 866},         {"cp866", 866},         {"shift_jis", 932},      {"shift-jis", 932},
        {"sjis", 932},           {"ms_kanji", 932},      {"windows-31j", 932},    {"x-sjis", 932},
        {"csshiftjis", 932},     {"euc-jp", 20932},      {"iso-2022-jp", 50220},  {"gbk", 936},
        {"gb2312", 936},         {"x-gbk", 936},         {"chinese", 936},        {"gb_2312-80", 936},
        {"csgb2312", 936},       {"gb18030", 54936},     {"big5", 950},           {"big5-hkscs", 950},
        {"x-x-big5", 950},       {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"windows-949", 949},
        {"macintosh", 10000},    {"mac", 10000},         {"x-mac-roman", 10000},  {"x-mac-cyrillic", 10007},
    };
    for (const auto& entry : table)
        if (label == entry.label)
            return IsValidCodePage(entry.codePage) ? entry.codePage : 0;
    return 0;
}

} // namespace
#endif

CharsetDecoder::CharsetDecoder(QByteArrayView name) : m_qt(name.toByteArray().constData()) {
#ifdef _WIN32
    if (!m_qt.isValid())
        m_codePage = codePageFor(name);
#endif
}

QString CharsetDecoder::decode(QByteArrayView bytes) {
#ifdef _WIN32
    if (m_codePage != 0) {
        if (bytes.isEmpty() || bytes.size() > INT_MAX)
            return {};
        const int size = static_cast<int>(bytes.size());
        const int length = MultiByteToWideChar(m_codePage, 0, bytes.data(), size, nullptr, 0);
        QString text(length, Qt::Uninitialized);
        MultiByteToWideChar(m_codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                            length);
        return text;
    }
#endif
    return m_qt.decode(bytes);
}

} // namespace skarvel
