// The [web] section of the collector's configuration: where the site console
// listens and with which certificate. Without the section no console runs.
// Plain HTTP is served only on a loopback address; any other address is
// always TLS, with CertFile=/KeyFile= or, without them, a certificate the
// collector makes for itself at first start (web/certificate).
#pragma once

#include "link/listenaddress.h"

#include <QStringList>
#include <functional>

namespace qta::web {

constexpr quint16 kDefaultPort = 8504;

struct TWebSettings {
    bool enabled = false;
    TListenAddress listen; // default 127.0.0.1:8504
    QString certFile;      // PEM; absolute, empty: none given
    QString keyFile;       // PEM; absolute, empty: none given
    // Where the collector keeps what is the site's rather than a controller's
    // (the certificate it made, the activity log): DataRoot=, else the
    // configuration file's folder.
    QString stateDir;
    QString usersFile; // the users file beside the configuration file
    bool operator==(const TWebSettings& o) const {
        return enabled == o.enabled && listen.address == o.listen.address &&
               listen.port == o.listen.port && certFile == o.certFile && keyFile == o.keyFile &&
               stateDir == o.stateDir && usersFile == o.usersFile;
    }
    // TLS is on everywhere but on a loopback address without a certificate.
    bool tls() const { return !listen.loopback() || !certFile.isEmpty(); }
};

// The settings from the section's keys (`value` returns a key's trimmed
// text, empty when absent); `present` says whether the section exists;
// relative file names are taken from `baseDir`. Every problem is one Polish
// line in `errors`; with any, no console runs.
TWebSettings webSettings(bool present, const std::function<QString(const char*)>& value,
                         const QString& baseDir, QStringList& errors);

} // namespace qta::web
