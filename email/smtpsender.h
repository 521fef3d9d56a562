// One message at a time to the mail server through libcurl's multi
// interface, driven from the Qt event loop: libcurl names the sockets it
// waits on (QSocketNotifiers follow them) and the timeout it wants (a
// single-shot QTimer), so sending never blocks the loop. SMTP with STARTTLS
// (required, not just tried), SMTP over TLS, or plain SMTP to a loopback
// server; the server's certificate is checked (CaFile= for a private CA);
// the login (User=, the password from PasswordFile=) is given to libcurl
// alone and appears in no URL and no log line.
#pragma once

#include "email/emailsettings.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

struct curl_slist;

namespace qta::email {

struct TSmtpResult {
    bool ok = false;
    // The server answered this message with a refusal: the others may still go.
    bool messageRefused = false;
    // 3: only a change of settings mends it (login, certificate, no STARTTLS);
    // 4: the server or the network may come back.
    int level = 4;
    QString text; // why not, in Polish
    bool operator==(const TSmtpResult&) const = default;
};

// What a finished transfer means: libcurl's result, the server's last reply
// code and libcurl's own words (kept in the text only when nothing better
// says it).
TSmtpResult smtpResult(int curlCode, long response, const QString& detail);

class TSmtpSender : public QObject {
    Q_OBJECT
public:
    explicit TSmtpSender(const TEmailSettings& settings, QObject* parent = nullptr);
    ~TSmtpSender() override;

    // Begins sending `message` to `recipient`; false while another is under
    // way. The result comes as finished().
    bool send(const QString& recipient, const QByteArray& message);
    bool busy() const { return easy_ != nullptr; }
    // Gives up the message under way (no finished()).
    void abort();

Q_SIGNALS:
    void finished(const qta::email::TSmtpResult& result);

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read, write;
    };
    static int socketCb(void* easy, int fd, int what, void* self, void* socketp);
    static int timerCb(void* multi, long ms, void* self);
    static size_t readCb(char* buffer, size_t size, size_t n, void* self);
    void action(int fd, int flags);
    void watch(int fd, int what);
    void unwatch(int fd);
    void release();

    TEmailSettings settings_;
    void* multi_ = nullptr; // CURLM
    void* easy_ = nullptr;  // CURL
    curl_slist* recipients_ = nullptr;
    QByteArray message_, url_, from_, rcpt_, user_, password_, ca_;
    qsizetype sent_ = 0;
    char error_[256] = {};
    std::map<int, Watch> watches_;
    QTimer timer_;
};

} // namespace qta::email
