#include "link/listenaddress.h"

#include <QRegularExpression>

namespace qta {

QString TListenAddress::text() const {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

bool parseListenAddress(const QString& text, const TListenAddress& fallback, TListenAddress& out,
                        QString& error) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        out = fallback;
        return true;
    }
    static const QRegularExpression form(
        QStringLiteral(R"(^(?:\[([0-9A-Fa-f:.]+)\]|([0-9.]+)):([0-9]{1,5})$)"));
    const QRegularExpressionMatch m = form.match(t);
    const auto refuse = [&] {
        error = QStringLiteral("„%1” nie jest adresem i portem (ADRES:PORT, np. 127.0.0.1:1502 "
                               "lub [::1]:1502)")
                    .arg(t);
        return false;
    };
    if (!m.hasMatch())
        return refuse();
    QHostAddress address;
    if (!address.setAddress(m.captured(1).isEmpty() ? m.captured(2) : m.captured(1)))
        return refuse();
    const int port = m.captured(3).toInt();
    if (port < 1 || port > 65535)
        return refuse();
    out.address = address;
    out.port = quint16(port);
    return true;
}

bool parseAllowList(const QString& text, QList<TSubnet>& out, QString& error) {
    out.clear();
    const QStringList items =
        text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    if (items.isEmpty()) {
        out << QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))
            << TSubnet(QHostAddress(QHostAddress::LocalHostIPv6), 128);
        return true;
    }
    for (const QString& item : items) {
        TSubnet subnet;
        QHostAddress single;
        if (single.setAddress(item))
            subnet = {single, single.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32};
        else
            subnet = QHostAddress::parseSubnet(item);
        if (subnet.first.isNull()) {
            error =
                QStringLiteral("„%1” nie jest adresem ani siecią (ADRES lub ADRES/BITY)").arg(item);
            out.clear();
            return false;
        }
        out << subnet;
    }
    return true;
}

bool addressAllowed(const QHostAddress& peer, const QList<TSubnet>& allowed) {
    QHostAddress seen = peer;
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    if (mapped)
        seen = QHostAddress(v4);
    for (const TSubnet& s : allowed)
        if (seen.isInSubnet(s))
            return true;
    return false;
}

} // namespace qta
