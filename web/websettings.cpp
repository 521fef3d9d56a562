#include "web/websettings.h"

#include <QDir>

namespace qta::web {

TWebSettings webSettings(bool present, const std::function<QString(const char*)>& value,
                         const QString& baseDir, QStringList& errors) {
    TWebSettings s;
    if (!present)
        return s;
    const qsizetype before = errors.size();
    QString error;
    if (!parseListenAddress(value("Listen"), {QHostAddress(QHostAddress::LocalHost), kDefaultPort},
                            s.listen, error))
        errors << QStringLiteral("[web] Listen=: %1").arg(error);
    const QDir base(baseDir);
    const QString cert = value("CertFile"), key = value("KeyFile");
    if (cert.isEmpty() != key.isEmpty())
        errors << QStringLiteral("[web] CertFile= i KeyFile= podaje się razem");
    if (!cert.isEmpty())
        s.certFile = QDir::cleanPath(base.absoluteFilePath(cert));
    if (!key.isEmpty())
        s.keyFile = QDir::cleanPath(base.absoluteFilePath(key));
    s.enabled = errors.size() == before;
    return s;
}

} // namespace qta::web
