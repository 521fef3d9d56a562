// The users the collector's console signs in: the users file as last read,
// reloaded on SIGHUP, and the one check of a name and a password.
#pragma once

#include "web/users.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace qta::web {

struct TSignIn {
    bool ok = false;
    Role role = Role::Viewer;
    QByteArray generation; // TUser::generation() at this moment
    // The password is right but its hash was made below today's parameters:
    // `qta504d --user passwd NAME` makes a new one (the service cannot write
    // /etc/qta504), so it is worth a line in the log.
    bool needsRehash = false;
};

class TUserStore {
public:
    explicit TUserStore(const QString& path) : path_(path) {}

    QString path() const { return path_; }

    // Reads the file again. Returns the lines to log (Polish): the file
    // refused, each line left out, no users. A file that is there but cannot
    // be used (refused, unreadable) leaves the users read before as they
    // were; a missing file means no users.
    QStringList reload();

    bool empty() const { return file_.users().isEmpty(); }
    QList<TUser> users() const { return file_.users(); }
    const TUser* find(const QString& name) const { return file_.find(name); }
    // The user's role and generation now; nullopt / empty when there is no
    // such user (removed: end their sessions).
    std::optional<Role> role(const QString& name) const;
    QByteArray generation(const QString& name) const;

    // Checks a sign-in. An unknown name costs the same hash as a known one,
    // so that the time taken does not tell which names exist. Each call
    // takes one Argon2id computation (some 50 ms of one core).
    TSignIn verify(const QString& name, const QString& password) const;

private:
    QString path_;
    TUsersFile file_;
};

} // namespace qta::web
