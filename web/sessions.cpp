#include "web/sessions.h"

#include <QRandomGenerator>

namespace qta::web {

namespace {
qint64 monotonicMs() {
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t.elapsed();
}
} // namespace

QString endReasonText(EndReason r) {
    switch (r) {
    case EndReason::SignOut: return QStringLiteral("wylogowanie");
    case EndReason::Idle: return QStringLiteral("wygaśnięcie sesji (30 min bezczynności)");
    case EndReason::Lifetime: return QStringLiteral("wygaśnięcie sesji (12 h)");
    case EndReason::UserChanged:
        return QStringLiteral("koniec sesji (użytkownik usunięty lub zmieniony)");
    case EndReason::EndedByAdmin: return QStringLiteral("sesja zakończona przez administratora");
    case EndReason::Limit: return QStringLiteral("koniec sesji (za dużo sesji)");
    }
    return {};
}

QByteArray randomHex(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    // QRandomGenerator::system() reads the operating system's generator.
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                         reinterpret_cast<quint32*>(raw.data() + (bytes & ~3)));
    for (int i = bytes & ~3; i < bytes; ++i)
        raw[i] = char(QRandomGenerator::system()->generate());
    return raw.toHex();
}

bool sameSecret(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

TSessionStore::TSessionStore() : clock_(monotonicMs) {}

const TSession& TSessionStore::create(const QString& user, Role role, const QByteArray& generation,
                                      const QHostAddress& address) {
    if (int(sessions_.size()) >= kMaxSessions) {
        // The one idle longest makes room.
        auto oldest = sessions_.begin();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
            if (it->second.lastSeenMs < oldest->second.lastSeenMs)
                oldest = it;
        end(oldest->first, EndReason::Limit);
    }
    TSession s;
    s.id = randomHex(32);
    s.handle = randomHex(8);
    s.csrf = randomHex(32);
    s.user = user;
    s.role = role;
    s.generation = generation;
    s.address = address;
    s.created = s.lastSeen = QDateTime::currentDateTime();
    s.createdMs = s.lastSeenMs = clock_();
    return sessions_.emplace(s.id, s).first->second;
}

std::optional<EndReason> TSessionStore::expired(const TSession& s) const {
    const qint64 now = clock_();
    if (now - s.createdMs >= kLifetimeMs)
        return EndReason::Lifetime;
    if (now - s.lastSeenMs >= kIdleMs)
        return EndReason::Idle;
    return std::nullopt;
}

const TSession* TSessionStore::find(const QByteArray& id, bool touch) {
    if (id.size() != 64)
        return nullptr;
    const auto it = sessions_.find(id);
    if (it == sessions_.end())
        return nullptr;
    if (const auto why = expired(it->second)) {
        end(id, *why);
        return nullptr;
    }
    if (touch) {
        it->second.lastSeenMs = clock_();
        it->second.lastSeen = QDateTime::currentDateTime();
    }
    return &it->second;
}

const TSession* TSessionStore::findByHandle(const QByteArray& handle) const {
    for (const auto& [id, s] : sessions_)
        if (s.handle == handle)
            return &s;
    return nullptr;
}

void TSessionStore::end(const QByteArray& id, EndReason why) {
    const auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    const TSession s = it->second;
    sessions_.erase(it);
    if (ended_)
        ended_(s, why);
}

void TSessionStore::sweep(const std::function<QByteArray(const QString&)>& generationOf) {
    std::vector<std::pair<QByteArray, EndReason>> ending;
    for (const auto& [id, s] : sessions_) {
        if (const auto why = expired(s))
            ending.emplace_back(id, *why);
        else if (generationOf(s.user) != s.generation)
            ending.emplace_back(id, EndReason::UserChanged);
    }
    for (const auto& [id, why] : ending)
        end(id, why);
}

std::vector<TSession> TSessionStore::all() const {
    std::vector<TSession> out;
    for (const auto& [id, s] : sessions_)
        out.push_back(s);
    std::sort(out.begin(), out.end(),
              [](const TSession& a, const TSession& b) { return a.createdMs < b.createdMs; });
    return out;
}

TSignInLimiter::TSignInLimiter() : clock_(monotonicMs) {}

int TSignInLimiter::failures(const QString& key) {
    const auto it = counts_.find(key);
    if (it == counts_.end())
        return 0;
    if (clock_() - it->second.lastMs >= kForgetMs) {
        counts_.erase(it);
        return 0;
    }
    return it->second.failures;
}

qint64 TSignInLimiter::delayMs(const QString& user, const QString& address) {
    const int n = std::max(failures(QStringLiteral("u:") + user.toLower().left(64)),
                           failures(QStringLiteral("a:") + address));
    if (n < kFreeFailures)
        return 0;
    const int doublings = std::min(n - kFreeFailures, 16);
    return std::min(kMaxDelayMs, qint64(1000) << doublings);
}

void TSignInLimiter::failed(const QString& user, const QString& address) {
    // Names nobody has are counted too (otherwise the count would say which
    // exist), under a bounded table: the oldest entries go first.
    if (counts_.size() > 10000)
        counts_.clear();
    for (const QString& key :
         {QStringLiteral("u:") + user.toLower().left(64), QStringLiteral("a:") + address}) {
        Count& c = counts_[key];
        if (clock_() - c.lastMs >= kForgetMs)
            c.failures = 0;
        ++c.failures;
        c.lastMs = clock_();
    }
}

void TSignInLimiter::succeeded(const QString& user, const QString& address) {
    counts_.erase(QStringLiteral("u:") + user.toLower().left(64));
    counts_.erase(QStringLiteral("a:") + address);
}

} // namespace qta::web
