// Where one of the collector's servers listens and whom it lets in: the
// Listen= and Allow= keys of its section ("127.0.0.1:1502", "[::1]:8504",
// "10.0.5.0/24, 192.168.1.7"). Addresses are literal: a server binds to an
// interface's address, never to a name looked up at start.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

namespace qta {

struct TListenAddress {
    QHostAddress address;
    quint16 port = 0;
    // "127.0.0.1:1502", "[::1]:8504": as the log and the README write it.
    QString text() const;
    bool loopback() const { return address.isLoopback(); }
};

// ADDRESS:PORT, an IPv6 address in brackets; an empty text gives
// `fallback`. False with `error` (Polish, naming the text) when the text is
// not such an address.
bool parseListenAddress(const QString& text, const TListenAddress& fallback, TListenAddress& out,
                        QString& error);

// Addresses and networks (ADDRESS or ADDRESS/BITS), separated by commas or
// spaces. An empty text gives the loopback networks (127.0.0.0/8 and ::1).
using TSubnet = QPair<QHostAddress, int>;
bool parseAllowList(const QString& text, QList<TSubnet>& out, QString& error);
// Whether `peer` is in one of `allowed`; an IPv4 peer seen through an IPv6
// socket (::ffff:10.0.5.7) counts as its IPv4 address.
bool addressAllowed(const QHostAddress& peer, const QList<TSubnet>& allowed);

} // namespace qta
