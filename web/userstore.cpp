#include "web/userstore.h"
#include "web/passwordhash.h"

namespace qta::web {

namespace {
// A hash with a salt nobody knows, made once, for the names that do not
// exist. Made with today's parameters: the same work as a current user's.
const QByteArray& decoyHash() {
    static const QByteArray hash = hashPassword(QStringLiteral("-"));
    return hash;
}
} // namespace

QStringList TUserStore::reload() {
    TUsersFile next = TUsersFile::read(path_);
    QStringList log;
    switch (next.status()) {
    case TUsersFile::Status::Refused:
        log << next.error() + (file_.users().isEmpty() ? QString()
                                                       : QStringLiteral("; użytkownicy bez zmian"));
        return log;
    case TUsersFile::Status::Missing:
        log << QStringLiteral("brak pliku użytkowników %1").arg(path_);
        break;
    case TUsersFile::Status::Read: log << next.lineErrors(); break;
    }
    file_ = std::move(next);
    if (file_.users().isEmpty())
        log << QStringLiteral("brak użytkowników konsoli; dodaj pierwszego: qta504d --user add "
                              "NAZWA --role admin");
    return log;
}

std::optional<Role> TUserStore::role(const QString& name) const {
    const TUser* u = find(name);
    return u ? std::optional<Role>(u->role) : std::nullopt;
}

QByteArray TUserStore::generation(const QString& name) const {
    const TUser* u = find(name);
    return u ? u->generation() : QByteArray();
}

TSignIn TUserStore::verify(const QString& name, const QString& password) const {
    TSignIn s;
    const TUser* u = find(name);
    const TVerifyResult r = verifyPassword(password, u ? u->hash : decoyHash());
    if (!u || !r.match)
        return s;
    s.ok = true;
    s.role = u->role;
    s.generation = u->generation();
    s.needsRehash = r.needsRehash;
    return s;
}

} // namespace qta::web
