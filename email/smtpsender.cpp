#include "email/smtpsender.h"

#include <QHostInfo>
#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <mutex>

namespace qta::email {

namespace {

void libraryInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The name the collector gives in EHLO: its host name when that is a plain
// DNS name.
QByteArray ehloName() {
    QByteArray name = QHostInfo::localHostName().toLatin1();
    for (const char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.'))
            return "localhost";
    return name.isEmpty() ? QByteArray("localhost") : name;
}

} // namespace

TSmtpResult smtpResult(int curlCode, long response, const QString& detail) {
    const auto result = [](bool refused, int level, const QString& text) {
        return TSmtpResult{false, refused, level, text};
    };
    switch (curlCode) {
    case CURLE_OK: return TSmtpResult{true, false, 6, {}};
    case CURLE_LOGIN_DENIED:
        return result(false, 3,
                      QStringLiteral("serwer poczty odrzucił logowanie (zła nazwa użytkownika lub "
                                     "hasło)"));
    case CURLE_PEER_FAILED_VERIFICATION:
        return result(false, 3,
                      QStringLiteral("certyfikat serwera poczty niezaufany lub nie pasuje do jego "
                                     "nazwy (CaFile=)"));
    case CURLE_SSL_CACERT_BADFILE:
        return result(false, 3, QStringLiteral("nie można użyć pliku CaFile="));
    case CURLE_SSL_CONNECT_ERROR:
        return result(false, 3,
                      QStringLiteral("nie udało się nawiązać połączenia TLS z serwerem poczty (%1)")
                          .arg(detail));
    case CURLE_USE_SSL_FAILED:
        return result(false, 3,
                      QStringLiteral("serwer poczty nie oferuje STARTTLS (Security=starttls); "
                                     "wiadomości nie wysłano bez szyfrowania"));
    case CURLE_COULDNT_CONNECT:
        return result(false, 4, QStringLiteral("serwer poczty nie przyjmuje połączeń"));
    case CURLE_COULDNT_RESOLVE_HOST:
        return result(false, 4, QStringLiteral("nie znaleziono adresu serwera poczty"));
    case CURLE_OPERATION_TIMEDOUT:
        return result(false, 4, QStringLiteral("serwer poczty nie odpowiada (przekroczony czas)"));
    default: break;
    }
    if (response == 530 || response == 535)
        return result(false, 3,
                      QStringLiteral("serwer poczty wymaga logowania (odpowiedź %1): sprawdź User= "
                                     "i PasswordFile=")
                          .arg(response));
    if (response >= 400)
        return result(
            true, 4,
            QStringLiteral("serwer poczty odrzucił wiadomość (odpowiedź %1)").arg(response));
    if (curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR ||
        curlCode == CURLE_GOT_NOTHING)
        return result(false, 4, QStringLiteral("połączenie z serwerem poczty przerwane"));
    return result(false, 4,
                  QStringLiteral("błąd wysyłania: %1%2")
                      .arg(QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode))),
                           detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail)));
}

TSmtpSender::TSmtpSender(const TEmailSettings& settings, QObject* parent)
    : QObject(parent), settings_(settings) {
    libraryInit();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &TSmtpSender::socketCb);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &TSmtpSender::timerCb);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { action(CURL_SOCKET_TIMEOUT, 0); });

    const QString host =
        settings_.host.contains(u':') ? u'[' + settings_.host + u']' : settings_.host;
    url_ = (settings_.security == Security::Tls ? QByteArray("smtps://") : QByteArray("smtp://")) +
           host.toUtf8() + ':' + QByteArray::number(settings_.port) + '/' + ehloName();
    from_ = '<' + settings_.from.toUtf8() + '>';
    user_ = settings_.user.toUtf8();
    password_ = settings_.password.toUtf8();
    ca_ = settings_.caFile.toUtf8();
}

TSmtpSender::~TSmtpSender() {
    abort();
    curl_multi_cleanup(multi_);
}

bool TSmtpSender::send(const QString& recipient, const QByteArray& message) {
    if (easy_)
        return false;
    easy_ = curl_easy_init();
    if (!easy_)
        return false;
    message_ = message;
    sent_ = 0;
    error_[0] = 0;
    rcpt_ = '<' + recipient.toUtf8() + '>';
    recipients_ = curl_slist_append(nullptr, rcpt_.constData());
    CURL* e = easy_;
    curl_easy_setopt(e, CURLOPT_URL, url_.constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(e, CURLOPT_USE_SSL,
                     settings_.security == Security::None ? long(CURLUSESSL_NONE)
                                                          : long(CURLUSESSL_ALL));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ca_.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAINFO, ca_.constData());
    if (!user_.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, user_.constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password_.constData());
    }
    curl_easy_setopt(e, CURLOPT_MAIL_FROM, from_.constData());
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, recipients_);
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(message_.size()));
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &TSmtpSender::readCb);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A connection per message: one kept open would meet the next message
    // (often many minutes later) closed by the server.
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, 20000L);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, 120000L);
    if (curl_multi_add_handle(multi_, e) != CURLM_OK) {
        release();
        return false;
    }
    return true;
}

void TSmtpSender::abort() {
    timer_.stop();
    release();
    watches_.clear();
}

void TSmtpSender::release() {
    if (easy_) {
        curl_multi_remove_handle(multi_, easy_);
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
    if (recipients_) {
        curl_slist_free_all(recipients_);
        recipients_ = nullptr;
    }
    message_.clear();
}

size_t TSmtpSender::readCb(char* buffer, size_t size, size_t n, void* self) {
    auto* s = static_cast<TSmtpSender*>(self);
    const size_t room = size * n;
    const size_t left = size_t(s->message_.size() - s->sent_);
    const size_t take = std::min(room, left);
    std::memcpy(buffer, s->message_.constData() + s->sent_, take);
    s->sent_ += qsizetype(take);
    return take;
}

int TSmtpSender::socketCb(void*, int fd, int what, void* self, void*) {
    auto* s = static_cast<TSmtpSender*>(self);
    if (what == CURL_POLL_REMOVE)
        s->unwatch(fd);
    else
        s->watch(fd, what);
    return 0;
}

int TSmtpSender::timerCb(void*, long ms, void* self) {
    auto* s = static_cast<TSmtpSender*>(self);
    // Only the timer is set here: libcurl is not to be called from its callbacks.
    if (ms < 0)
        s->timer_.stop();
    else
        s->timer_.start(int(std::min(ms, 3600000L)));
    return 0;
}

void TSmtpSender::watch(int fd, int what) {
    Watch& w = watches_[fd];
    const auto make = [&](std::unique_ptr<QSocketNotifier>& n, QSocketNotifier::Type type,
                          int flag) {
        if (!n) {
            n = std::make_unique<QSocketNotifier>(fd, type);
            connect(n.get(), &QSocketNotifier::activated, this,
                    [this, fd, flag] { action(fd, flag); });
        }
    };
    make(w.read, QSocketNotifier::Read, CURL_CSELECT_IN);
    make(w.write, QSocketNotifier::Write, CURL_CSELECT_OUT);
    w.read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    w.write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void TSmtpSender::unwatch(int fd) {
    const auto it = watches_.find(fd);
    if (it == watches_.end())
        return;
    // Possibly inside the notifier's own signal: switched off now, deleted later.
    for (auto* n : {&it->second.read, &it->second.write})
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->disconnect(this);
            n->release()->deleteLater();
        }
    watches_.erase(it);
}

void TSmtpSender::action(int fd, int flags) {
    if (!easy_)
        return;
    int running = 0;
    curl_multi_socket_action(multi_, curl_socket_t(fd), flags, &running);
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
        if (m->msg != CURLMSG_DONE || m->easy_handle != easy_)
            continue;
        const int code = m->data.result;
        long response = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &response);
        const QString detail = QString::fromUtf8(error_).trimmed();
        release();
        Q_EMIT finished(smtpResult(code, response, detail));
        return; // the slot may have begun the next message
    }
}

} // namespace qta::email
