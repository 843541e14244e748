#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

namespace skarvel {

// Decodes text in a charset named by a web label ("windows-1251", "Shift_JIS", "koi8-r").
// Qt built without ICU (the Windows build) decodes only Latin-1 and the Unicode forms itself;
// there the other charsets go through Windows' own code pages.
class CharsetDecoder {
public:
    explicit CharsetDecoder(QByteArrayView name);
    explicit CharsetDecoder(QStringConverter::Encoding encoding) : m_qt(encoding) {}

    bool isValid() const { return m_qt.isValid() || m_codePage != 0; }
    // One whole text: a character cut off at the end becomes a replacement character.
    QString decode(QByteArrayView bytes);

private:
    QStringDecoder m_qt;
    unsigned m_codePage = 0;
};

} // namespace skarvel
