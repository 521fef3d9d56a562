#include "web/certificate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace qta::web {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

QByteArray pemOf(int (*write)(BIO*, void*), void* object) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get(), object) != 1)
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(n));
}

int writeKey(BIO* b, void* k) {
    return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0, nullptr,
                                    nullptr);
}
int writeCert(BIO* b, void* c) { return PEM_write_bio_X509(b, static_cast<X509*>(c)); }

bool addExtension(X509* cert, int nid, const QByteArray& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.constData());
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// Writes `data` to a new file of `mode`; an existing file is not replaced.
bool writeNew(const QString& path, const QByteArray& data, mode_t mode, QString& error) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = QStringLiteral("nie można utworzyć %1: %2")
                    .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const bool ok = ::fchmod(fd, mode) == 0 &&
                    ::write(fd, data.constData(), size_t(data.size())) == data.size() &&
                    ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        error = QStringLiteral("nie można zapisać %1").arg(path);
        QFile::remove(path);
    }
    return ok;
}

} // namespace

QString TCertificate::fingerprint() const {
    const QByteArray d = certificate.digest(QCryptographicHash::Sha256).toHex().toUpper();
    QStringList parts;
    for (int i = 0; i < d.size(); i += 2)
        parts << QString::fromLatin1(d.mid(i, 2));
    return parts.join(u':');
}

QString ownCertFile(const QString& stateDir) {
    return QDir(stateDir).filePath(QStringLiteral("konsola-certyfikat.pem"));
}
QString ownKeyFile(const QString& stateDir) {
    return QDir(stateDir).filePath(QStringLiteral("konsola-klucz.pem"));
}

bool makeSelfSigned(const QString& certFile, const QString& keyFile, const QString& host,
                    const QHostAddress& address, QString& error) {
    PKey key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) {
        error = QStringLiteral("nie można utworzyć klucza certyfikatu");
        return false;
    }
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    QFile urandom(QStringLiteral("/dev/urandom"));
    if (!urandom.open(QIODevice::ReadOnly) ||
        urandom.read(reinterpret_cast<char*>(serial), 16) != 16) {
        error = QStringLiteral("brak liczb losowych dla certyfikatu");
        return false;
    }
    serial[0] &= 0x7f; // a positive number
    BIGNUM* bn = BN_bin2bn(serial, 16, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray cn = host.toUtf8().left(64);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("qta504d"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    QByteArray san = "DNS:" + cn + ",DNS:localhost,IP:127.0.0.1,IP:::1";
    if (!address.isNull() && address != QHostAddress::Any && address != QHostAddress::AnyIPv6 &&
        address != QHostAddress::AnyIPv4 && !address.isLoopback())
        san += ",IP:" + address.toString().toLatin1();
    if (!addExtension(cert.get(), NID_subject_alt_name, san) ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        error = QStringLiteral("nie można podpisać certyfikatu");
        return false;
    }
    const QByteArray keyPem = pemOf(writeKey, key.get());
    const QByteArray certPem = pemOf(writeCert, cert.get());
    if (keyPem.isEmpty() || certPem.isEmpty()) {
        error = QStringLiteral("nie można zapisać certyfikatu w PEM");
        return false;
    }
    if (!writeNew(keyFile, keyPem, 0600, error))
        return false;
    if (!writeNew(certFile, certPem, 0644, error)) {
        QFile::remove(keyFile);
        return false;
    }
    return true;
}

bool loadCertificate(const QString& certFile, const QString& keyFile, const QString& stateDir,
                     const QHostAddress& address, TCertificate& out, QString& error) {
    out = TCertificate();
    out.certFile = certFile.isEmpty() ? ownCertFile(stateDir) : certFile;
    out.keyFile = keyFile.isEmpty() ? ownKeyFile(stateDir) : keyFile;
    if (certFile.isEmpty() && !QFileInfo::exists(out.certFile) && !QFileInfo::exists(out.keyFile)) {
        if (!QDir().mkpath(stateDir)) {
            error = QStringLiteral("nie można utworzyć folderu %1").arg(stateDir);
            return false;
        }
        if (!makeSelfSigned(out.certFile, out.keyFile, QHostInfo::localHostName(), address, error))
            return false;
        out.made = true;
    }
    QFile cf(out.certFile), kf(out.keyFile);
    if (!cf.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("nie można odczytać certyfikatu %1").arg(out.certFile);
        return false;
    }
    if (!kf.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("nie można odczytać klucza %1").arg(out.keyFile);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(cf.readAll(), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        error = QStringLiteral("%1 nie zawiera certyfikatu PEM").arg(out.certFile);
        return false;
    }
    out.certificate = chain.first();
    const QByteArray keyPem = kf.readAll();
    for (QSsl::KeyAlgorithm alg : {QSsl::Ec, QSsl::Rsa}) {
        out.key = QSslKey(keyPem, alg, QSsl::Pem);
        if (!out.key.isNull())
            break;
    }
    if (out.key.isNull()) {
        error =
            QStringLiteral("%1 nie zawiera klucza PEM (EC lub RSA, bez hasła)").arg(out.keyFile);
        return false;
    }
    return true;
}

} // namespace qta::web
