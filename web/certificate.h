// The console's TLS certificate: the administrator's PEM files, or one the
// collector makes for itself at first start (a P-256 key, self-signed for
// the host's name, "localhost" and the listening address, ten years) and
// keeps in its state folder, the key 0600. Its SHA-256 fingerprint goes to
// the log, so that a first visit can be checked against it.
#pragma once

#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace qta::web {

struct TCertificate {
    QSslCertificate certificate;
    QSslKey key;
    QString certFile, keyFile;
    bool made = false; // made now, at this start
    // "AB:CD:…", 32 bytes.
    QString fingerprint() const;
};

// The file names the collector gives a certificate it makes in `stateDir`.
QString ownCertFile(const QString& stateDir);
QString ownKeyFile(const QString& stateDir);

// Makes a self-signed certificate for `host` (and "localhost", and
// `address` unless it is a wildcard) into the two files: the key written to
// a new file 0600, the certificate 0644. False with `error` (Polish).
bool makeSelfSigned(const QString& certFile, const QString& keyFile, const QString& host,
                    const QHostAddress& address, QString& error);

// Reads the pair; with no files given, the collector's own in `stateDir`,
// made first when missing. False with `error` (Polish, naming the file).
bool loadCertificate(const QString& certFile, const QString& keyFile, const QString& stateDir,
                     const QHostAddress& address, TCertificate& out, QString& error);

} // namespace qta::web
