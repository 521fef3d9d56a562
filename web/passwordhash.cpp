#include "web/passwordhash.h"

#include <QList>
#include <QRandomGenerator>
#include <argon2.h>

namespace qta::web {

namespace {

constexpr uint32_t kMaxMemoryKiB = 1u << 20; // 1 GiB
constexpr uint32_t kMaxPasses = 64;
constexpr uint32_t kMaxLanes = 64;

// The password's bytes as hashed; wiped by the destructor.
struct Secret {
    QByteArray bytes;
    explicit Secret(const QString& password)
        : bytes(password.normalized(QString::NormalizationForm_C).toUtf8()) {}
    ~Secret() { bytes.fill('\0'); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
};

bool isBase64(const QByteArray& s, int minBytes) {
    if (s.size() < (minBytes * 4 + 2) / 3)
        return false;
    for (const char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '/'))
            return false;
    return s.size() % 4 != 1; // a length no unpadded encoding has
}

bool number(const QByteArray& text, const char* prefix, uint32_t max, uint32_t& out) {
    if (!text.startsWith(prefix))
        return false;
    const QByteArray digits = text.mid(qsizetype(qstrlen(prefix)));
    if (digits.isEmpty() || digits.size() > 10 || (digits.size() > 1 && digits.startsWith('0')))
        return false;
    bool ok = false;
    const qulonglong v = digits.toULongLong(&ok);
    if (!ok || v < 1 || v > max)
        return false;
    out = uint32_t(v);
    return true;
}

} // namespace

bool belowBaseline(const TArgon2Params& p) {
    return p.memoryKiB < kArgon2Params.memoryKiB || p.iterations < kArgon2Params.iterations ||
           p.parallelism < kArgon2Params.parallelism;
}

bool parseEncodedHash(const QByteArray& encoded, TArgon2Params* params, QString* why) {
    const auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    // "", "argon2id", "v=19", "m=..,t=..,p=..", salt, hash
    const QList<QByteArray> parts = encoded.split('$');
    if (parts.size() != 6 || !parts[0].isEmpty())
        return fail(QStringLiteral("to nie jest zapis skrótu Argon2 ($argon2id$v=…$m=…,t=…,p=…$"
                                   "sól$skrót)"));
    if (parts[1] != "argon2id")
        return fail(QStringLiteral("nieobsługiwany rodzaj skrótu „%1” (tylko argon2id)")
                        .arg(QString::fromLatin1(parts[1].left(32))));
    if (parts[2] != "v=19" && parts[2] != "v=16")
        return fail(QStringLiteral("nieobsługiwana wersja algorytmu „%1”")
                        .arg(QString::fromLatin1(parts[2].left(32))));
    const QList<QByteArray> p = parts[3].split(',');
    TArgon2Params v;
    if (p.size() != 3 || !number(p[0], "m=", kMaxMemoryKiB, v.memoryKiB) ||
        !number(p[1], "t=", kMaxPasses, v.iterations) ||
        !number(p[2], "p=", kMaxLanes, v.parallelism) || v.memoryKiB < 8 * v.parallelism)
        return fail(QStringLiteral("błędne lub zbyt duże parametry „%1” (pamięć do %2 KiB, "
                                   "do %3 przebiegów i wątków)")
                        .arg(QString::fromLatin1(parts[3].left(64)))
                        .arg(kMaxMemoryKiB)
                        .arg(kMaxPasses));
    if (!isBase64(parts[4], ARGON2_MIN_SALT_LENGTH) || !isBase64(parts[5], ARGON2_MIN_OUTLEN) ||
        parts[4].size() > 256 || parts[5].size() > 256)
        return fail(QStringLiteral("błędna sól lub skrót (base64 bez dopełnienia)"));
    if (params)
        *params = v;
    return true;
}

QByteArray hashPassword(const QString& password, QString* error) {
    const Secret secret(password);
    if (secret.bytes.size() > kMaxPasswordBytes) {
        if (error)
            *error =
                QStringLiteral("hasło jest za długie (najwyżej %1 bajtów)").arg(kMaxPasswordBytes);
        return {};
    }
    quint32 salt[kSaltBytes / 4];
    QRandomGenerator::system()->fillRange(salt);
    const TArgon2Params& p = kArgon2Params;
    QByteArray encoded(qsizetype(argon2_encodedlen(p.iterations, p.memoryKiB, p.parallelism,
                                                   kSaltBytes, kHashBytes, Argon2_id)),
                       '\0');
    const int rc =
        argon2id_hash_encoded(p.iterations, p.memoryKiB, p.parallelism, secret.bytes.constData(),
                              size_t(secret.bytes.size()), salt, sizeof salt, kHashBytes,
                              encoded.data(), size_t(encoded.size()));
    if (rc != ARGON2_OK) {
        if (error)
            *error = QStringLiteral("nie można obliczyć skrótu hasła: %1")
                         .arg(QString::fromUtf8(argon2_error_message(rc)));
        return {};
    }
    encoded.truncate(qsizetype(qstrlen(encoded.constData())));
    return encoded;
}

TVerifyResult verifyPassword(const QString& password, const QByteArray& encoded) {
    TVerifyResult r;
    TArgon2Params p;
    if (!parseEncodedHash(encoded, &p)) {
        r.malformed = true;
        return r;
    }
    const Secret secret(password);
    if (secret.bytes.size() > kMaxPasswordBytes)
        return r; // no stored password is that long
    const int rc =
        argon2id_verify(encoded.constData(), secret.bytes.constData(), size_t(secret.bytes.size()));
    if (rc == ARGON2_OK) {
        r.match = true;
        r.needsRehash = belowBaseline(p) || !encoded.startsWith("$argon2id$v=19$");
    } else if (rc != ARGON2_VERIFY_MISMATCH) {
        r.malformed = true; // the library could not decode or compute it
    }
    return r;
}

} // namespace qta::web
