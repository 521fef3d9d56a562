#include "web/httpguard.h"
#include "web/httpmessage.h"

namespace qta::web {

QByteArray errorResponse(int status, const QByteArray& reason, const QString& text) {
    const QByteArray body = text.toUtf8() + '\n';
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nConnection: close\r\nX-Content-Type-Options: nosniff\r\n"
           "Cache-Control: no-store\r\n\r\n" +
           body;
}

namespace {
QByteArray reasonOf(int status) {
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 505: return "HTTP Version Not Supported";
    }
    return "Bad Request";
}

bool tokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}
} // namespace

TRequestFramer::Verdict TRequestFramer::refuse(int status, const QString& why) {
    status_ = status;
    why_ = why;
    return Verdict::Refuse;
}

TRequestFramer::Verdict TRequestFramer::feed(const char* data, qsizetype n) {
    qsizetype i = 0;
    while (i < n) {
        if (inBody_) {
            const qsizetype take = std::min<qsizetype>(n - i, bodyLeft_);
            bodyLeft_ -= take;
            i += take;
            if (bodyLeft_ == 0) {
                inBody_ = started_ = false;
                ++completed_;
            }
            continue;
        }
        const char c = data[i++];
        if (!started_ && (c == '\r' || c == '\n'))
            continue; // between requests, as the parser allows
        started_ = true;
        head_.append(c);
        if (c == '\n' && (head_.endsWith("\n\n") || head_.endsWith("\n\r\n"))) {
            if (endOfHeaders() == Verdict::Refuse)
                return Verdict::Refuse;
            continue;
        }
        const qsizetype firstLine = head_.indexOf('\n');
        if (firstLine < 0 && head_.size() > kMaxRequestLine)
            return refuse(414,
                          QStringLiteral("wiersz żądania dłuższy niż %1 B").arg(kMaxRequestLine));
        if (firstLine >= 0 && head_.size() - firstLine > kMaxHeaderBytes)
            return refuse(431, QStringLiteral("nagłówki dłuższe niż %1 B").arg(kMaxHeaderBytes));
    }
    return Verdict::More;
}

TRequestFramer::Verdict TRequestFramer::endOfHeaders() {
    QList<QByteArray> lines = head_.split('\n');
    head_.clear();
    for (QByteArray& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return refuse(400, QStringLiteral("puste żądanie"));
    const QList<QByteArray> parts = lines.first().split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() ||
        !std::all_of(parts[0].begin(), parts[0].end(),
                     [](char c) { return c >= 'A' && c <= 'Z'; }) ||
        !parts[1].startsWith('/'))
        return refuse(400, QStringLiteral("błędny wiersz żądania"));
    for (char c : parts[1])
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return refuse(400, QStringLiteral("niedozwolony znak w adresie"));
    const qsizetype query = parts[1].indexOf('?');
    if (checkedPath(query < 0 ? parts[1] : parts[1].left(query)).isEmpty())
        return refuse(400,
                      QStringLiteral("niedozwolona ścieżka (.., zakodowany ukośnik lub kropka)"));
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0")
        return refuse(parts[2].startsWith("HTTP/") ? 505 : 400,
                      QStringLiteral("nieobsługiwana wersja HTTP"));
    if (lines.size() - 1 > kMaxHeaderLines)
        return refuse(431, QStringLiteral("więcej niż %1 nagłówków").arg(kMaxHeaderLines));
    QByteArray length;
    for (qsizetype k = 1; k < lines.size(); ++k) {
        const QByteArray& l = lines[k];
        const qsizetype colon = l.indexOf(':');
        if (colon <= 0 || !std::all_of(l.begin(), l.begin() + colon, tokenChar))
            return refuse(400, QStringLiteral("błędny nagłówek"));
        for (char c : l)
            if ((uchar(c) < 0x20 && c != '\t') || c == 0x7f)
                return refuse(400, QStringLiteral("znak sterujący w nagłówku"));
        const QByteArray name = l.left(colon).toLower();
        const QByteArray value = l.mid(colon + 1).trimmed();
        if (name == "transfer-encoding")
            return refuse(411, QStringLiteral("treść tylko z Content-Length"));
        if (name == "content-length") {
            if (value.isEmpty() ||
                !std::all_of(value.begin(), value.end(),
                             [](char c) { return c >= '0' && c <= '9'; }) ||
                (!length.isEmpty() && length != value))
                return refuse(400, QStringLiteral("błędne Content-Length"));
            length = value;
        }
    }
    const qint64 body = length.size() > 12 ? kMaxBody + 1 : length.toLongLong();
    if (body > kMaxBody)
        return refuse(413, QStringLiteral("treść żądania większa niż %1 B").arg(kMaxBody));
    if (body > 0) {
        inBody_ = true;
        bodyLeft_ = body;
    } else {
        started_ = false;
        ++completed_;
    }
    return Verdict::More;
}

bool TConnectionLimits::admit(const QHostAddress& a) {
    const QString key = a.toString();
    if (total_ >= kMaxConnections || byAddress_.value(key) >= kMaxConnectionsPerAddress)
        return false;
    ++total_;
    ++byAddress_[key];
    return true;
}

void TConnectionLimits::release(const QHostAddress& a) {
    const QString key = a.toString();
    --total_;
    if (--byAddress_[key] <= 0)
        byAddress_.remove(key);
}

TConnectionGuard::TConnectionGuard(QTcpSocket* socket, QObject* httpServer,
                                   std::shared_ptr<TConnectionLimits> limits)
    : QObject(socket), socket_(socket), http_(httpServer), limits_(std::move(limits)),
      address_(socket->peerAddress()) {
    setObjectName(QStringLiteral("qta-guard"));
    // Connected before the HTTP server's own handler: it sees the bytes first.
    connect(socket, &QTcpSocket::readyRead, this, &TConnectionGuard::onReadyRead);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TConnectionGuard::onTimeout);
    timer_.start(kIdleTimeoutMs);
    // What Qt takes from the kernel before the parser reads it: a request
    // within the limits always fits.
    socket->setReadBufferSize(64 * 1024);
}

TConnectionGuard::~TConnectionGuard() { limits_->release(address_); }

TConnectionGuard* TConnectionGuard::of(QTcpSocket* socket) {
    return socket->findChild<TConnectionGuard*>(QStringLiteral("qta-guard"),
                                                Qt::FindDirectChildrenOnly);
}

void TConnectionGuard::requestAnswered() { examined_ = socket_->bytesAvailable(); }

void TConnectionGuard::detach() {
    timer_.stop();
    disconnect(socket_, nullptr, this, nullptr);
    socket_->setReadBufferSize(0);
}

void TConnectionGuard::onReadyRead() {
    const qint64 available = socket_->bytesAvailable();
    if (available > examined_) {
        const QByteArray bytes = socket_->peek(available);
        const TRequestFramer::Verdict v =
            framer_.feed(bytes.constData() + examined_, bytes.size() - examined_);
        if (v == TRequestFramer::Verdict::Refuse) {
            refuse(framer_.status(), framer_.why());
            return;
        }
    }
    // The HTTP server reads all it is given unless a request ends in it;
    // then requestAnswered() says what is left.
    examined_ = 0;
    if (socket_->bytesToWrite() > 1024 * 1024) {
        socket_->abort(); // answers nobody reads
        return;
    }
    if (framer_.completed() != completedSeen_) {
        completedSeen_ = framer_.completed();
        timer_.start(framer_.midRequest() ? kRequestTimeoutMs : kIdleTimeoutMs);
    } else if (framer_.midRequest() && timer_.remainingTime() > kRequestTimeoutMs) {
        timer_.start(kRequestTimeoutMs);
    }
}

void TConnectionGuard::onTimeout() {
    if (framer_.midRequest())
        refuse(408, QStringLiteral("żądanie niepełne po %1 s").arg(kRequestTimeoutMs / 1000));
    else
        socket_->disconnectFromHost();
}

void TConnectionGuard::refuse(int status, const QString& why) {
    // Nothing more of this connection reaches the HTTP server.
    if (http_)
        disconnect(socket_, nullptr, http_, nullptr);
    disconnect(socket_, &QTcpSocket::readyRead, this, nullptr);
    timer_.stop();
    if (socket_->isTransactionStarted())
        socket_->rollbackTransaction();
    // What the client still sends is read and dropped until it has the answer.
    QTcpSocket* s = socket_;
    connect(s, &QTcpSocket::readyRead, this, [s] { s->skip(s->bytesAvailable()); });
    QTimer::singleShot(5000, s, [s] { s->abort(); });
    s->write(errorResponse(status, reasonOf(status), why));
    s->skip(s->bytesAvailable());
    s->disconnectFromHost();
}

} // namespace qta::web
