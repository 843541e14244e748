#pragma once
// A hidden text buffer of the main window (the harvests' answer buffers and the
// text download's work buffer): text that is appended to and replaced whole.
#include <QObject>
#include <QString>

namespace skarvel {

class TextStore : public QObject {
    Q_OBJECT
public:
    explicit TextStore(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
    const QString& text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }
    void append(const QString& text) { m_text += text; }
    void clear() { m_text.clear(); }

private:
    QString m_text;
};

} // namespace skarvel
