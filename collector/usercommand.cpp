#include "collector/usercommand.h"
#include "alarms/alarmjournal.h"
#include "collector/collectorconfig.h"
#include "web/activitylog.h"
#include "web/passwordhash.h"
#include "web/passwordprompt.h"
#include "web/users.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <cstdio>
#include <unistd.h>

namespace qta {

namespace {

using web::Role;
using web::TActivityLog;
using web::TActivityRecord;
using web::TUser;
using web::TUsersFile;

enum Exit { Done = 0, Failed = 1, Refused = 2 };

void out(const QString& text) { std::fprintf(stdout, "%s\n", text.toUtf8().constData()); }
void err(const QString& text) { std::fprintf(stderr, "qta504d: %s\n", text.toUtf8().constData()); }

const QString kReloadHint =
    QStringLiteral("działający kolektor przyjmie zmianę po SIGHUP (systemctl reload qta504d)");

QString roleText(Role r) {
    const QString keyword = web::roleKeyword(r);
    const QString shown = web::roleDisplayName(r);
    return keyword == shown ? keyword : QStringLiteral("%1 (%2)").arg(keyword, shown);
}

// The users file as it stands, or why it cannot be edited.
std::optional<TUsersFile> readUsers(const QString& path) {
    TUsersFile f = TUsersFile::read(path);
    if (f.status() == TUsersFile::Status::Refused) {
        err(f.error());
        return std::nullopt;
    }
    for (const QString& line : f.lineErrors())
        err(line + QStringLiteral(" (wiersz zostaje w pliku bez zmian)"));
    return f;
}

struct Change {
    QString action;  // for the activity log
    QString details; // likewise
    QString done;    // what the command says
};

} // namespace

int runUserCommand(const QString& configPath, const QString& action, const QString& nameArg,
                   const QString& roleArg) {
    static const QStringList kActions = {QStringLiteral("add"), QStringLiteral("passwd"),
                                         QStringLiteral("role"), QStringLiteral("del"),
                                         QStringLiteral("list")};
    if (!kActions.contains(action)) {
        err(QStringLiteral("nieznane działanie --user %1 (dozwolone: add, passwd, role, del, list)")
                .arg(action));
        return Refused;
    }
    const bool list = action == QLatin1String("list");
    const QString name = nameArg.normalized(QString::NormalizationForm_C);
    if (list && !name.isEmpty()) {
        err(QStringLiteral("--user list nie przyjmuje nazwy użytkownika"));
        return Refused;
    }
    if (!list) {
        if (name.isEmpty()) {
            err(QStringLiteral("--user %1 wymaga nazwy użytkownika").arg(action));
            return Refused;
        }
        if (const QString p = web::userNameProblem(name); !p.isEmpty()) {
            err(p);
            return Refused;
        }
    }
    std::optional<Role> role;
    if (!roleArg.isEmpty()) {
        role = web::roleFromKeyword(roleArg);
        if (!role) {
            err(QStringLiteral("nieznana rola %1 (dozwolone: viewer, operator, admin)")
                    .arg(roleArg));
            return Refused;
        }
        if (action != QLatin1String("add") && action != QLatin1String("role")) {
            err(QStringLiteral("--role dotyczy tylko --user add i --user role"));
            return Refused;
        }
    }
    if (action == QLatin1String("role") && !role) {
        err(QStringLiteral("--user role wymaga --role viewer|operator|admin"));
        return Refused;
    }

    // The users file lies beside the configuration, which must be there: a
    // mistyped --config would otherwise make users nobody reads.
    const TCollectorConfig config = readCollectorConfig(configPath);
    if (!config.readable) {
        err(config.errors.value(0));
        return Refused;
    }
    const QString usersPath = TUsersFile::besideConfig(configPath);
    std::optional<TUsersFile> users = readUsers(usersPath);
    if (!users)
        return Refused;

    if (list) {
        const QList<TUser> all = users->users();
        if (all.isEmpty())
            out(QStringLiteral("brak użytkowników w %1").arg(usersPath));
        for (const TUser& u : all)
            out(QStringLiteral("%1\t%2").arg(u.name, roleText(u.role)));
        return Done;
    }

    // Checked before the password is asked for, and again under the lock.
    const TUser* existing = users->find(name);
    if (action == QLatin1String("add")) {
        if (const QString p = users->addProblem(name); !p.isEmpty()) {
            err(p);
            return Refused;
        }
    } else if (!existing) {
        err(QStringLiteral("nie ma użytkownika %1 w %2").arg(name, usersPath));
        return Refused;
    }

    TActivityLog activity(TActivityLog::pathFor(config.dataRoot, configPath));
    const QString logFolder = QFileInfo(activity.path()).absolutePath();
    if (!QFileInfo(logFolder).isDir() && (::geteuid() == 0 || !QDir().mkpath(logFolder))) {
        // Root makes no data folder: the service could not write in it.
        err(QStringLiteral("brak folderu %1 na dziennik aktywności (DataRoot=); kolektor "
                           "tworzy go przy pierwszym uruchomieniu; nic nie zmieniono")
                .arg(logFolder));
        return Failed;
    }

    QByteArray hash;
    if (action == QLatin1String("add") || action == QLatin1String("passwd")) {
        QString problem;
        const std::optional<QString> password = web::readNewPassword(name, problem);
        if (!password) {
            err(problem);
            return Refused;
        }
        hash = web::hashPassword(*password, &problem);
        if (hash.isEmpty()) {
            err(problem);
            return Failed;
        }
    }

    QLockFile lock(usersPath + QStringLiteral(".lock"));
    if (!lock.tryLock(10000)) {
        err(QStringLiteral("plik %1 zmienia teraz ktoś inny (blokada %2.lock); spróbuj ponownie")
                .arg(usersPath, usersPath));
        return Failed;
    }
    users = readUsers(usersPath);
    if (!users)
        return Refused;
    Change change;
    QString problem;
    const TUser* u = users->find(name);
    if (action == QLatin1String("add")) {
        const Role r = role.value_or(Role::Viewer);
        problem = users->add({name, r, hash});
        change = {QStringLiteral("dodanie użytkownika"), QStringLiteral("rola %1").arg(roleText(r)),
                  QStringLiteral("dodano użytkownika %1, rola %2").arg(name, roleText(r))};
    } else if (!u) {
        problem = QStringLiteral("nie ma użytkownika %1 w %2").arg(name, usersPath);
    } else if (action == QLatin1String("passwd")) {
        problem = users->setHash(name, hash);
        change = {QStringLiteral("zmiana hasła"), QString(),
                  QStringLiteral("zmieniono hasło użytkownika %1").arg(name)};
    } else if (action == QLatin1String("role")) {
        const Role before = u->role;
        problem = users->setRole(name, *role);
        change = {QStringLiteral("zmiana roli"),
                  QStringLiteral("rola %1 → %2").arg(roleText(before), roleText(*role)),
                  QStringLiteral("zmieniono rolę użytkownika %1: %2 → %3")
                      .arg(name, roleText(before), roleText(*role))};
    } else {
        const Role before = u->role;
        problem = users->remove(name);
        change = {QStringLiteral("usunięcie użytkownika"),
                  QStringLiteral("rola %1").arg(roleText(before)),
                  QStringLiteral("usunięto użytkownika %1").arg(name)};
    }
    if (!problem.isEmpty()) {
        err(problem);
        return Refused;
    }

    TActivityRecord record{QDateTime::currentDateTime(),
                           currentUserName(),
                           web::kCommandLine,
                           change.action,
                           name,
                           web::kSuccess,
                           change.details};
    if (const QString failed = users->write(); !failed.isEmpty()) {
        err(failed);
        record.result = web::kFailed;
        record.details = failed;
        if (const QString logFailed = activity.append(record); !logFailed.isEmpty())
            err(logFailed);
        return Failed;
    }
    out(change.done);
    if (const QString logFailed = activity.append(record); !logFailed.isEmpty()) {
        err(logFailed + QStringLiteral(" (zmiana w %1 została zapisana)").arg(usersPath));
        return Failed;
    }
    out(kReloadHint);
    return Done;
}

} // namespace qta
