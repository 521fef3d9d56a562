#include "email/emailsettings.h"

#include "mqtt/mqttsettings.h"
#include "tables/inifile.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QUrl>

namespace qta::email {

namespace {

bool atext(QChar c) {
    static const QString specials = QStringLiteral("!#$%&'*+-/=?^_`{|}~");
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           specials.contains(c);
}

bool loopback(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress a(host);
    return !a.isNull() && a.isLoopback();
}

} // namespace

QString securityName(Security s) {
    switch (s) {
    case Security::StartTls: return QStringLiteral("starttls");
    case Security::Tls: return QStringLiteral("tls");
    case Security::None: return QStringLiteral("none");
    }
    return {};
}

bool plainAddress(const QString& address, QString* why) {
    const auto no = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (address.isEmpty())
        return no(QStringLiteral("pusty adres"));
    if (address.size() > 254)
        return no(QStringLiteral("adres dłuższy niż 254 znaki"));
    const qsizetype at = address.indexOf(u'@');
    if (at < 0 || address.indexOf(u'@', at + 1) >= 0)
        return no(QStringLiteral("adres musi mieć dokładnie jeden znak @"));
    const QString local = address.left(at), domain = address.mid(at + 1);
    if (local.isEmpty() || local.size() > 64)
        return no(QStringLiteral("brak nazwy przed @ (lub dłuższa niż 64 znaki)"));
    if (local.startsWith(u'.') || local.endsWith(u'.') || local.contains(QLatin1String("..")))
        return no(QStringLiteral("kropka na początku, na końcu lub podwójna przed @"));
    for (const QChar c : local)
        if (!atext(c) && c != u'.')
            return no(QStringLiteral("znak „%1” przed @ niedozwolony").arg(c));
    const QStringList labels = domain.split(u'.');
    if (labels.size() < 2)
        return no(QStringLiteral("domena po @ musi mieć kropkę (np. firma.pl)"));
    for (const QString& l : labels) {
        if (l.isEmpty() || l.size() > 63 || l.startsWith(u'-') || l.endsWith(u'-'))
            return no(QStringLiteral("domena po @ niepoprawna"));
        for (const QChar c : l)
            if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                  (c >= u'0' && c <= u'9') || c == u'-'))
                return no(QStringLiteral("znak „%1” w domenie niedozwolony").arg(c));
    }
    return true;
}

bool parseRecipients(const QString& text, QList<TRecipient>& out, QString& error) {
    out.clear();
    for (const QString& raw : text.split(u',')) {
        const QString item = raw.trimmed();
        if (item.isEmpty())
            continue;
        TRecipient r;
        r.address = item;
        if (const qsizetype colon = item.lastIndexOf(u':'); colon >= 0) {
            r.address = item.left(colon).trimmed();
            const QString level = item.mid(colon + 1).trimmed().toLower();
            if (level == QLatin1String("wysoki"))
                r.lowest = AlarmPriority::High;
            else if (level == QLatin1String("sredni") || level == QStringLiteral("średni"))
                r.lowest = AlarmPriority::Medium;
            else {
                error = QStringLiteral("„%1”: po dwukropku dozwolone wysoki lub sredni").arg(item);
                return false;
            }
        }
        QString why;
        if (!plainAddress(r.address, &why)) {
            error = QStringLiteral("„%1”: %2").arg(r.address, why);
            return false;
        }
        for (const TRecipient& seen : out)
            if (seen.address.compare(r.address, Qt::CaseInsensitive) == 0) {
                error = QStringLiteral("„%1” podany dwa razy").arg(r.address);
                return false;
            }
        out << r;
    }
    if (out.isEmpty()) {
        error = QStringLiteral("brak odbiorców");
        return false;
    }
    return true;
}

TEmailSettings emailSettings(const std::function<QString(const char*)>& value,
                             const QString& baseDir, QStringList& errors) {
    TEmailSettings s;
    s.host = value("Host");
    if (s.host.isEmpty())
        return s;
    const int before = int(errors.size());
    const auto error = [&](const QString& text) { errors << QStringLiteral("[email]: ") + text; };
    const auto number = [&](const char* key, int def, int lo, int hi) {
        return iniNumber("email", key, value(key), def, lo, hi, errors);
    };
    const auto file = [&](const char* key) { return iniFilePath(baseDir, value(key)); };

    const QString security = value("Security").toLower();
    if (security.isEmpty() || security == QLatin1String("starttls"))
        s.security = Security::StartTls;
    else if (security == QLatin1String("tls"))
        s.security = Security::Tls;
    else if (security == QLatin1String("none"))
        s.security = Security::None;
    else
        error(
            QStringLiteral("Security=%1: dozwolone starttls, tls lub none").arg(value("Security")));
    if (s.security == Security::None && !loopback(s.host))
        error(QStringLiteral("Security=none (bez szyfrowania) dozwolone tylko do serwera pod "
                             "adresem lokalnym (127.0.0.1, ::1, localhost), a Host=%1")
                  .arg(s.host));
    if (s.host.contains(u'/') || s.host.contains(u'@') || s.host.contains(u' '))
        error(QStringLiteral("Host=%1 nie jest nazwą ani adresem serwera").arg(s.host));
    const int defaultPort = s.security == Security::Tls    ? 465
                            : s.security == Security::None ? 25
                                                           : 587;
    s.port = number("Port", defaultPort, 1, 65535);
    s.perHour = number("LimitNaGodzine", 10, 1, 1000);
    s.queueLimit = number("LimitKolejki", 500, 10, 100000);

    s.user = value("User");
    s.passwordFile = file("PasswordFile");
    if (!s.passwordFile.isEmpty()) {
        QString why;
        s.password = mqtt::readSecretFile(s.passwordFile, why);
        if (!why.isEmpty())
            error(QStringLiteral("PasswordFile: %1; hasło nie zostało użyte").arg(why));
    }
    if (s.user.isEmpty() != s.passwordFile.isEmpty())
        error(QStringLiteral("User= i PasswordFile= podaje się razem"));
    s.caFile = file("CaFile");
    if (!s.caFile.isEmpty() && !QFile::exists(s.caFile))
        error(QStringLiteral("brak pliku %1 (CaFile=)").arg(s.caFile));

    s.from = value("From");
    QString why;
    if (s.from.isEmpty())
        error(QStringLiteral("brak From= (adres nadawcy)"));
    else if (!plainAddress(s.from, &why))
        error(QStringLiteral("From=%1: %2").arg(s.from, why));
    if (!parseRecipients(value("Odbiorcy"), s.recipients, why))
        error(QStringLiteral("Odbiorcy=: %1").arg(why));

    s.consoleUrl = value("KonsolaUrl");
    if (!s.consoleUrl.isEmpty()) {
        const QUrl url(s.consoleUrl, QUrl::StrictMode);
        bool plain = true;
        for (const QChar c : s.consoleUrl)
            plain = plain && c.unicode() > 32 && c.unicode() < 127;
        if (!url.isValid() || !plain ||
            (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
            url.host().isEmpty())
            error(QStringLiteral("KonsolaUrl=%1 nie jest adresem http:// ani https://")
                      .arg(s.consoleUrl));
    }

    if (int(errors.size()) > before) {
        errors << QStringLiteral("[email]: wysyłanie wiadomości wyłączone");
        s = TEmailSettings{};
    }
    return s;
}

} // namespace qta::email
