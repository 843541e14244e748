#include "pictures/picture_svg.h"

#include "pictures/picture_codecs_internal.h"

#include <QByteArray>
#include <QByteArrayMatcher>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <map>

namespace skarvel::detail {

namespace {

constexpr const char* kFormat = "SVG";

[[noreturn]] void Refuse(const std::string& why) {
    ThrowPictureError(kFormat, why);
}

bool StartsUtf16(const QByteArray& bytes) {
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") ||
           (bytes.size() >= 2 && (bytes[0] == '\0' || bytes[1] == '\0'));
}

// The internal entities the document type declares, each with its length, checked so that their
// expansion can be counted before anything is expanded: an entity whose value uses another entity
// (the road of "billion laughs"), a parameter or an external entity, is refused.
std::map<QString, qsizetype> DeclaredEntities(const QByteArray& document, qint64& bodyStart) {
    std::map<QString, qsizetype> entities;
    static const QRegularExpression parameterEntity(QStringLiteral("<!ENTITY\\s+%"));
    static const QRegularExpression entityReference(QStringLiteral("&[^#]"));
    QXmlStreamReader reader(document);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement)
            break;
        if (token != QXmlStreamReader::DTD)
            continue;
        if (reader.text().contains(parameterEntity))
            Refuse("parameter entities are not allowed");
        for (const QXmlStreamEntityDeclaration& entity : reader.entityDeclarations()) {
            if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty() ||
                !entity.notationName().isEmpty())
                Refuse("external entities are not allowed");
            if (entity.value().contains(entityReference))
                Refuse("entity " + entity.name().toString().toStdString() + " refers to another entity");
            if (entity.value().size() > kMaxSvgEntityLength)
                Refuse("entity " + entity.name().toString().toStdString() + " is longer than " +
                       std::to_string(kMaxSvgEntityLength) + " characters");
            entities[entity.name().toString()] = entity.value().size();
        }
        bodyStart = reader.characterOffset();
    }
    return entities;
}

} // namespace

void CheckSvgDocument(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0)
        Refuse("empty file");
    if (size > static_cast<std::size_t>(kMaxSvgFileBytes))
        Refuse("file of " + std::to_string(size) + " bytes is larger than allowed");
    const QByteArray document =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // Entities are counted in the file before any is expanded: a parser hands out the text that
    // references make as one piece, however large.
    qint64 bodyStart = 0;
    const std::map<QString, qsizetype> entities = DeclaredEntities(document, bodyStart);
    if (!entities.empty()) {
        if (StartsUtf16(document))
            Refuse("entities are allowed in UTF-8 documents only");
        const std::int64_t allowed =
            kSvgExpansionFactor * static_cast<std::int64_t>(size) + kSvgFreeExpansion;
        std::int64_t expansion = 0;
        for (const auto& [name, length] : entities) {
            const QByteArrayMatcher reference(QByteArray("&") + name.toUtf8() + ';');
            for (qsizetype at = reference.indexIn(document, bodyStart); at >= 0;
                 at = reference.indexIn(document, at + 1)) {
                expansion += length;
                if (expansion > allowed)
                    Refuse("entities expand the document to more than " +
                           std::to_string(kSvgExpansionFactor) + " times its size");
            }
        }
    }

    QXmlStreamReader reader(document);
    std::int64_t elements = 0;
    int depth = 0;
    bool root = true;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::EntityReference:
            Refuse("entity " + reader.name().toString().toStdString() + " is not declared in the document");
        case QXmlStreamReader::StartElement:
            if (root) {
                if (reader.name() != u"svg")
                    Refuse("the document is not an SVG picture");
                root = false;
            }
            if (++depth > kMaxSvgDepth)
                Refuse("elements nested deeper than " + std::to_string(kMaxSvgDepth));
            if (++elements > kMaxSvgElements)
                Refuse("more than " + std::to_string(kMaxSvgElements) + " elements");
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        Refuse("not a well-formed document: " + reader.errorString().toStdString());
    if (root)
        Refuse("the document has no root element");
}

} // namespace skarvel::detail
