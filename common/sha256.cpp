#include "common/sha256.h"

#include <QFile>

#include <memory>

#ifdef SKARVEL_OPENSSL_SHA256
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

namespace skarvel {

namespace {

#ifdef SKARVEL_OPENSSL_SHA256
struct FreeContext {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

class Digest {
public:
    Digest() : m_context(EVP_MD_CTX_new()) {
        m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
    }
    void add(const char* data, qsizetype size) {
        m_ok = m_ok && EVP_DigestUpdate(m_context.get(), data, size_t(size)) == 1;
    }
    // Empty when the library failed.
    QByteArray result() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!m_ok || EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1)
            return {};
        return QByteArray(reinterpret_cast<const char*>(digest), int(length));
    }

private:
    std::unique_ptr<EVP_MD_CTX, FreeContext> m_context;
    bool m_ok = false;
};
#else
class Digest {
public:
    void add(const char* data, qsizetype size) { m_hash.addData(QByteArrayView(data, size)); }
    QByteArray result() { return m_hash.result(); }

private:
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};
#endif

} // namespace

QByteArray Sha256(const QByteArray& bytes) {
    Digest digest;
    digest.add(bytes.constData(), bytes.size());
    return digest.result();
}

bool Sha256OfFile(const QString& path, QByteArray& result, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    Digest digest;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) {
            if (error)
                *error = file.errorString();
            return false;
        }
        if (got == 0)
            break;
        digest.add(buffer.constData(), got);
    }
    result = digest.result();
    if (result.isEmpty() && error)
        *error = QStringLiteral("SHA-256 failed");
    return !result.isEmpty();
}

} // namespace skarvel
