#include "common/ini_file.h"

#include "common/file_ops.h"

#include <QFile>
#include <QStringDecoder>

namespace skarvel {

namespace {

QString sectionName(const QString& line) {
    const QString t = line.trimmed();
    if (t.startsWith(u'[') && t.endsWith(u']'))
        return t.mid(1, t.size() - 2).trimmed();
    return {};
}

bool isSection(const QString& line) {
    const QString t = line.trimmed();
    return t.startsWith(u'[') && t.endsWith(u']');
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {
    QByteArray bytes;
    if (!ReadWholeFile(m_path, bytes))
        return;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QString text = QString::fromUtf8(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    m_lines = text.split(u'\n');
    if (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
}

bool IniFile::exists() const {
    return QFile::exists(m_path);
}

qsizetype IniFile::findSection(const QString& section) const {
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        if (isSection(m_lines[i]) && sectionName(m_lines[i]).compare(section, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const {
    const qsizetype start = findSection(section);
    if (start < 0)
        return def;
    for (qsizetype i = start + 1; i < m_lines.size() && !isSection(m_lines[i]); ++i) {
        const QString& line = m_lines[i];
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return def;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QString entry = key + u'=' + value;
    qsizetype start = findSection(section);
    if (start < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
            m_lines.append(QString());
        m_lines.append(u'[' + section + u']');
        m_lines.append(entry);
        return;
    }
    qsizetype i = start + 1;
    qsizetype lastEntry = start;
    for (; i < m_lines.size() && !isSection(m_lines[i]); ++i) {
        const QString& line = m_lines[i];
        if (!line.trimmed().isEmpty())
            lastEntry = i;
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) {
            m_lines[i] = entry;
            return;
        }
    }
    m_lines.insert(lastEntry + 1, entry);
}

bool IniFile::updateFile(QString* error) {
#ifdef Q_OS_WIN
    const QString eol = QStringLiteral("\r\n");
#else
    const QString eol = QStringLiteral("\n");
#endif
    QString text;
    for (const QString& line : m_lines)
        text += line + eol;
    return WriteWholeFile(m_path, text.toUtf8(), error);
}

} // namespace skarvel
