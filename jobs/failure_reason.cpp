#include "jobs/failure_reason.h"

#include "net/http_client.h"
#include "pictures/picture_codecs.h"

namespace skarvel {

QString FailureReason(const std::exception& error) {
    const QString detail = QString::fromUtf8(error.what());
    if (const auto* http = dynamic_cast<const HttpError*>(&error)) {
        if (http->status() > 0)
            return QStringLiteral("HTTP %1").arg(http->status());
        return QStringLiteral("Network error: ") + detail;
    }
    if (dynamic_cast<const PictureError*>(&error))
        return QStringLiteral("Decode error: ") + detail;
    if (dynamic_cast<const FileWriteError*>(&error))
        return QStringLiteral("Write error: ") + detail;
    return detail;
}

} // namespace skarvel
