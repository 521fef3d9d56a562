#include "web/users.h"
#include "tables/tablefile.h"
#include "web/passwordhash.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qta::web {

namespace {

// The group the service runs in beside its data group (see the package's
// sysusers.d entry): the only one that may read the installed users file.
constexpr const char* kServiceGroup = "qta504";
constexpr qint64 kMaxFileBytes = 1 << 20;

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString modeText(mode_t mode) { return QStringLiteral("%1").arg(mode & 07777, 4, 8, QChar(u'0')); }

QString normalName(const QString& name) { return name.normalized(QString::NormalizationForm_C); }

} // namespace

QString roleKeyword(Role r) {
    switch (r) {
    case Role::Viewer: return QStringLiteral("viewer");
    case Role::Operator: return QStringLiteral("operator");
    case Role::Admin: return QStringLiteral("admin");
    }
    return {};
}

QString roleDisplayName(Role r) {
    switch (r) {
    case Role::Viewer: return QStringLiteral("podgląd");
    case Role::Operator: return QStringLiteral("operator");
    case Role::Admin: return QStringLiteral("administrator");
    }
    return {};
}

std::optional<Role> roleFromKeyword(const QString& keyword) {
    for (Role r : {Role::Viewer, Role::Operator, Role::Admin})
        if (keyword == roleKeyword(r))
            return r;
    return std::nullopt;
}

QString userNameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("pusta nazwa użytkownika");
    if (name.size() > kMaxUserNameLength)
        return QStringLiteral("nazwa użytkownika „%1…” jest za długa (najwyżej %2 znaki)")
            .arg(name.left(kMaxUserNameLength))
            .arg(kMaxUserNameLength);
    for (const QChar c : name)
        if (!(c.isLetter() || (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'-'))
            return QStringLiteral("nazwa użytkownika „%1” zawiera niedozwolony znak „%2” "
                                  "(dozwolone: litery, cyfry, kropka, podkreślenie, łącznik)")
                .arg(name, c.isPrint()
                               ? QString(c)
                               : QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QChar(u'0')));
    if (name.front() == u'-' || name.front() == u'.')
        return QStringLiteral("nazwa użytkownika „%1” nie może zaczynać się od „%2”")
            .arg(name, name.front());
    return {};
}

QByteArray TUser::generation() const {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(roleKeyword(role).toUtf8());
    h.addData(QByteArrayView(":"));
    h.addData(hash);
    return h.result().left(12).toHex();
}

// ---------------------------------------------------------------- reading

QString TUsersFile::installedPath() { return QStringLiteral("/etc/qta504/users"); }

QString TUsersFile::besideConfig(const QString& configPath) {
    return QFileInfo(configPath).absoluteDir().filePath(QStringLiteral("users"));
}

TUsersFile TUsersFile::read(const QString& path) {
    TUsersFile f;
    f.path_ = path;
    const auto refuse = [&f](const QString& why) {
        f.status_ = Status::Refused;
        f.error_ = why;
        return f;
    };
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) {
            f.status_ = Status::Missing;
            return f;
        }
        return refuse(QStringLiteral("nie można odczytać pliku użytkowników %1: %2")
                          .arg(path, errnoText(errno)));
    }
    // The checks look at the file opened, not at whatever the name points to later.
    struct stat st {};
    QByteArray text;
    QString problem;
    if (::fstat(fd, &st) != 0) {
        problem = QStringLiteral("nie można odczytać pliku użytkowników %1: %2")
                      .arg(path, errnoText(errno));
    } else if (!S_ISREG(st.st_mode)) {
        problem = QStringLiteral("%1 nie jest zwykłym plikiem").arg(path);
    } else if (st.st_mode & (S_IWGRP | S_IRWXO)) {
        problem = QStringLiteral("plik użytkowników %1 mogą zmieniać lub czytać inni (uprawnienia "
                                 "%2); dozwolone 0640 lub 0600 (chmod 640 %1)")
                      .arg(path, modeText(st.st_mode));
    } else if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        problem = QStringLiteral("plik użytkowników %1 należy do innego użytkownika (uid %2); "
                                 "dozwolony właściciel: root lub uid %3")
                      .arg(path)
                      .arg(st.st_uid)
                      .arg(::geteuid());
    } else if (st.st_size > kMaxFileBytes) {
        problem = QStringLiteral("plik użytkowników %1 jest za duży (%2 bajtów, najwyżej %3)")
                      .arg(path)
                      .arg(st.st_size)
                      .arg(kMaxFileBytes);
    } else {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            text = file.read(kMaxFileBytes + 1);
        if (file.error() != QFileDevice::NoError)
            problem = QStringLiteral("nie można odczytać pliku użytkowników %1: %2")
                          .arg(path, file.errorString());
    }
    ::close(fd);
    if (!problem.isEmpty())
        return refuse(problem);

    f.status_ = Status::Read;
    QList<QByteArray> raw = text.split('\n');
    if (!raw.isEmpty() && raw.constLast().isEmpty())
        raw.removeLast(); // the final line end
    int number = 0;
    for (const QByteArray& rawLine : raw) {
        ++number;
        Line line;
        line.text = rawLine;
        QByteArray body = rawLine;
        if (body.endsWith('\r'))
            body.chop(1);
        const QByteArray trimmed = body.trimmed();
        const auto bad = [&](const QString& why) {
            f.lineErrors_
                << QStringLiteral("plik %1, wiersz %2: %3").arg(path).arg(number).arg(why);
        };
        if (trimmed.isEmpty() || trimmed.startsWith('#')) {
            f.lines_.push_back(line);
            continue;
        }
        const QList<QByteArray> parts = body.split(':');
        if (QString::fromUtf8(body).toUtf8() != body) {
            bad(QStringLiteral("tekst nie jest w UTF-8"));
        } else if (parts.size() != 3) {
            bad(QStringLiteral("oczekiwano NAZWA:ROLA:SKRÓT_HASŁA"));
        } else {
            TUser u;
            u.name = QString::fromUtf8(parts[0]);
            const QString role = QString::fromUtf8(parts[1]);
            u.hash = parts[2];
            const std::optional<Role> r = roleFromKeyword(role);
            QString why;
            if (const QString p = userNameProblem(u.name); !p.isEmpty())
                bad(p);
            else if (u.name != normalName(u.name))
                bad(QStringLiteral("nazwa „%1” nie jest w postaci NFC Unicode").arg(u.name));
            else if (!r)
                bad(QStringLiteral("nieznana rola „%1” (dozwolone: viewer, operator, admin)")
                        .arg(role.left(32)));
            else if (!parseEncodedHash(u.hash, nullptr, &why))
                bad(QStringLiteral("użytkownik %1: %2").arg(u.name, why));
            else if (f.taken(u.name))
                bad(QStringLiteral("użytkownik %1 pojawia się ponownie (ważny pierwszy wiersz)")
                        .arg(u.name));
            else {
                u.role = *r;
                line.user = u;
            }
        }
        f.lines_.push_back(line);
    }
    return f;
}

QList<TUser> TUsersFile::users() const {
    QList<TUser> out;
    for (const Line& l : lines_)
        if (l.user)
            out << *l.user;
    return out;
}

const TUser* TUsersFile::find(const QString& name) const {
    const QString n = normalName(name);
    for (const Line& l : lines_)
        if (l.user && l.user->name == n)
            return &*l.user;
    return nullptr;
}

const TUser* TUsersFile::taken(const QString& name) const {
    for (const Line& l : lines_)
        if (l.user && l.user->name.compare(name, Qt::CaseInsensitive) == 0)
            return &*l.user;
    return nullptr;
}

TUsersFile::Line* TUsersFile::lineOf(const QString& name) {
    const QString n = normalName(name);
    for (Line& l : lines_)
        if (l.user && l.user->name == n)
            return &l;
    return nullptr;
}

QByteArray TUsersFile::lineText(const TUser& u) {
    return u.name.toUtf8() + ':' + roleKeyword(u.role).toUtf8() + ':' + u.hash;
}

// ---------------------------------------------------------------- changes

QString TUsersFile::addProblem(const QString& name) const {
    const QString n = normalName(name);
    if (const QString p = userNameProblem(n); !p.isEmpty())
        return p;
    if (const TUser* t = taken(n))
        return QStringLiteral("użytkownik %1 już istnieje").arg(t->name);
    // A line the reader could not use may still be meant for this name: the
    // administrator mends or removes it first, or the file would hold the
    // name twice.
    for (const Line& l : lines_)
        if (!l.user && QString::fromUtf8(l.text.split(':').constFirst().trimmed())
                               .compare(n, Qt::CaseInsensitive) == 0)
            return QStringLiteral("w pliku %1 jest nieczytelny wiersz użytkownika %2; popraw go "
                                  "lub usuń")
                .arg(path_, n);
    return {};
}

QString TUsersFile::add(const TUser& user) {
    TUser u = user;
    u.name = normalName(u.name);
    if (const QString p = addProblem(u.name); !p.isEmpty())
        return p;
    if (!parseEncodedHash(u.hash))
        return QStringLiteral("błędny skrót hasła");
    lines_.push_back({lineText(u), u});
    return {};
}

QString TUsersFile::setHash(const QString& name, const QByteArray& hash) {
    Line* l = lineOf(name);
    if (!l)
        return QStringLiteral("nie ma użytkownika %1").arg(name);
    if (!parseEncodedHash(hash))
        return QStringLiteral("błędny skrót hasła");
    l->user->hash = hash;
    l->text = lineText(*l->user);
    return {};
}

QString TUsersFile::setRole(const QString& name, Role role) {
    Line* l = lineOf(name);
    if (!l)
        return QStringLiteral("nie ma użytkownika %1").arg(name);
    l->user->role = role;
    l->text = lineText(*l->user);
    return {};
}

QString TUsersFile::remove(const QString& name) {
    const QString n = normalName(name);
    for (auto it = lines_.begin(); it != lines_.end(); ++it)
        if (it->user && it->user->name == n) {
            lines_.erase(it);
            return {};
        }
    return QStringLiteral("nie ma użytkownika %1").arg(name);
}

// ---------------------------------------------------------------- writing

QString TUsersFile::write() const {
    const QByteArray native = QFile::encodeName(path_);
    struct stat old {};
    const bool exists = ::stat(native.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return QStringLiteral("nie można zapisać pliku użytkowników %1: %2")
            .arg(path_, errnoText(errno));
    mode_t mode = 0600;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (exists) {
        mode = old.st_mode & 07777;
        uid = old.st_uid;
        gid = old.st_gid;
    } else if (::geteuid() == 0) {
        mode = 0640;
        if (const group* g = ::getgrnam(kServiceGroup))
            gid = g->gr_gid;
    }

    QByteArray text;
    for (const Line& l : lines_)
        text += l.text + '\n';

    QSaveFile file(path_);
    const auto failed = [&](const QString& why) {
        file.cancelWriting();
        return QStringLiteral("nie można zapisać pliku użytkowników %1: %2").arg(path_, why);
    };
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("nie można zapisać pliku użytkowników %1: %2")
            .arg(path_, file.errorString());
    const int fd = file.handle();
    struct stat made {};
    // Mode first: the new file is never readable by more than the old one was.
    if (::fchmod(fd, mode) != 0 || ::fstat(fd, &made) != 0)
        return failed(errnoText(errno));
    if ((made.st_uid != uid || made.st_gid != gid) && ::fchown(fd, uid, gid) != 0)
        return failed(QStringLiteral("nie można nadać właściciela %1:%2 (%3)")
                          .arg(uid)
                          .arg(gid)
                          .arg(errnoText(errno)));
    // fchown may drop set-id bits; the mode is set again after it.
    if (::fchmod(fd, mode) != 0)
        return failed(errnoText(errno));
    if (file.write(text) != text.size() || !file.flush())
        return failed(file.errorString());
    if (::fsync(fd) != 0)
        return failed(errnoText(errno));
    if (!file.commit())
        return QStringLiteral("nie można zapisać pliku użytkowników %1: %2")
            .arg(path_, file.errorString());
    try {
        dbf::syncFolder(QFileInfo(path_).absolutePath());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace qta::web
