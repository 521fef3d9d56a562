// The users file of the site console: one user a line,
//     NAME:ROLE:HASH
// ROLE viewer, operator or admin, HASH an Argon2id encoded string (it holds
// '$', ',' and '=' but never ':'); '#' starts a comment line; blank lines are
// kept as they are. Installed as /etc/qta504/users (root:qta504 0640);
// beside a configuration given with --config it is `users` in its folder.
//
// Reading refuses a file that others than its owner and group may change, or
// others may read (it holds the hashes), and one owned by a user other than
// root or the reader. Every line that cannot be used is named with its
// number, and the others are kept. Writing replaces the file whole (a
// temporary file in its folder, synced, renamed, the folder synced), keeping
// comments, lines it could not read, the mode, owner and group.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace qta::web {

enum class Role { Viewer = 0, Operator = 1, Admin = 2 };

QString roleKeyword(Role r);     // "viewer", "operator", "admin": the file's and the command's
QString roleDisplayName(Role r); // "podgląd", "operator", "administrator": what pages show
std::optional<Role> roleFromKeyword(const QString& keyword);
// Whether a user of role `r` may do what role `need` may (admin > operator > viewer).
inline bool roleAllows(Role r, Role need) { return int(r) >= int(need); }

constexpr int kMaxUserNameLength = 32;
// Why `name` cannot be a user's name, empty when it can: 1 to 32 characters,
// letters, digits, '.', '_' and '-', not starting with '-' or '.'.
QString userNameProblem(const QString& name);

struct TUser {
    QString name;
    Role role = Role::Viewer;
    QByteArray hash;
    // Changes whenever the role or the password hash does (a new password
    // always brings a new salt): a session remembers it at sign-in and ends
    // when it differs, or when the user is gone.
    QByteArray generation() const;
};

class TUsersFile {
public:
    enum class Status {
        Read,    // read; lineErrors() names the lines left out
        Missing, // no such file: no users
        Refused, // there, but not used: error() says why
    };

    static QString installedPath(); // /etc/qta504/users
    // `users` in the folder of the configuration file.
    static QString besideConfig(const QString& configPath);

    static TUsersFile read(const QString& path);

    QString path() const { return path_; }
    Status status() const { return status_; }
    // Why the file was refused (Polish, naming the file); empty otherwise.
    QString error() const { return error_; }
    // One per line left out: "plik …, wiersz 3: …".
    QStringList lineErrors() const { return lineErrors_; }

    QList<TUser> users() const;
    const TUser* find(const QString& name) const;

    // --- changes (the command line); each returns why not, empty when done ---
    // Whether a user `name` can be added (checked again by add).
    QString addProblem(const QString& name) const;
    QString add(const TUser& user);
    QString setHash(const QString& name, const QByteArray& hash);
    QString setRole(const QString& name, Role role);
    QString remove(const QString& name);

    // Writes the file whole (see above). A new file is made 0640 with the
    // group qta504 (when that group exists) by root, 0600 by anybody else.
    // Returns why it failed, empty when written; a failure leaves the old file.
    QString write() const;

private:
    struct Line {
        QByteArray text;           // as read, or as made for the user
        std::optional<TUser> user; // none: a comment, blank or unusable line
    };
    Line* lineOf(const QString& name);
    // A user whose name differs from `name` at most in letter case: one name
    // to people, so never two users.
    const TUser* taken(const QString& name) const;
    static QByteArray lineText(const TUser& u);

    QString path_;
    Status status_ = Status::Missing;
    QString error_;
    QStringList lineErrors_;
    std::vector<Line> lines_;
};

} // namespace qta::web
