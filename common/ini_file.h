#pragma once
#include <QString>
#include <QStringList>

namespace skarvel {

// A plain INI file as other programs read and write it: "[Section]" lines and
// "Key=Value" lines, values taken as they stand (no quoting, no escapes).
// Lines it does not understand, other sections and other keys are kept on save.
class IniFile {
public:
    explicit IniFile(QString path);

    bool exists() const;
    QString readString(const QString& section, const QString& key, const QString& def) const;
    void writeString(const QString& section, const QString& key, const QString& value);
    // Writes the file to disk; false, with the reason in *error, when it cannot be written.
    [[nodiscard]] bool updateFile(QString* error = nullptr);

private:
    qsizetype findSection(const QString& section) const;
    QString m_path;
    QStringList m_lines;
};

} // namespace skarvel
