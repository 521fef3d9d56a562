#include "link/portinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace qta {

namespace {

// The device file behind a port name: "ttyUSB0" is /dev/ttyUSB0; a path is
// followed through its links.
QString devicePath(const QString& port) {
    const QString path = port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

#ifdef Q_OS_UNIX
QString groupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

bool sessionHasGroup(gid_t gid) {
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

// Whether the account is in the group in the system's group list (which a
// session started before `adduser` does not see yet).
bool accountHasGroup(gid_t gid) {
    const passwd* pw = ::getpwuid(::geteuid());
    if (!pw)
        return false;
    int n = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) < 0) {
        groups.resize(static_cast<std::size_t>(n));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) < 0)
            return false;
    }
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

QString userName(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString accountName() { return userName(::geteuid()); }
#endif

} // namespace

TPortInfo portInfo(const QString& name, const QString& byIdDir) {
    TPortInfo info;
    info.name = name;
    const QString device = devicePath(name);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& p : ports) {
        if (devicePath(p.systemLocation()) != device)
            continue;
        info.description = p.description().trimmed();
        info.serialNumber = p.serialNumber().trimmed();
        break;
    }
    info.stableName = stablePortName(name, byIdDir);
    return info;
}

QString portLabel(const TPortInfo& info) {
    QStringList parts;
    if (!info.description.isEmpty())
        parts << info.description;
    if (!info.serialNumber.isEmpty())
        parts << QStringLiteral("nr seryjny ") + info.serialNumber;
    if (parts.isEmpty())
        return info.name;
    return info.name + QStringLiteral(" (") + parts.join(QStringLiteral(", ")) + u')';
}

QString stablePortName(const QString& port, const QString& byIdDir) {
    const QString device = devicePath(port);
    if (!QFileInfo::exists(device))
        return {};
    const QDir dir(byIdDir);
    const QFileInfoList links =
        dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.isSymLink() && link.canonicalFilePath() == device)
            return dir.absoluteFilePath(link.fileName());
    }
    return {};
}

QString portPermissionProblem(const QString& port) {
#ifndef Q_OS_UNIX
    Q_UNUSED(port);
    return {}; // Windows reports a port in use or missing, never a group to join
#else
    const QString device = devicePath(port);
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {};
    if (::access(path.constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};

    const QString group = groupName(st.st_gid);
    const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    QString head = QStringLiteral("Brak uprawnień do portu ") + port;
    if (device != port)
        head += QStringLiteral(" (") + device + u')';
    if (groupMayUse && st.st_gid != 0 && !sessionHasGroup(st.st_gid)) {
        if (accountHasGroup(st.st_gid))
            return head + QStringLiteral(": konto %1 należy już do grupy %2, ale ta sesja jeszcze "
                                         "tego nie widzi. Wyloguj się i zaloguj ponownie.")
                              .arg(accountName(), group);
        return head + QStringLiteral(": port jest dostępny dla grupy %1. Dopisz konto do tej "
                                     "grupy poleceniem „sudo adduser %2 %1”, potem wyloguj się "
                                     "i zaloguj ponownie.")
                          .arg(group, accountName());
    }
    // Not a matter of one group: say what the device allows.
    return head + QStringLiteral(": urządzenie ma właściciela %1, grupę %2 i prawa %3; poproś "
                                 "administratora o dostęp do odczytu i zapisu.")
                      .arg(userName(st.st_uid), group, QString::number(st.st_mode & 0777, 8));
#endif
}

} // namespace qta
