#include "rules/number_field.h"

#include "common/text_ops.h"

#include <algorithm>

namespace skarvel {

QString NormaliseNumberField(const QString& text, int def, int minimum, int maximum) {
    if (text.isEmpty())
        return text;
    return QString::number(std::clamp(ReadInt(text, def), minimum, maximum));
}

} // namespace skarvel
