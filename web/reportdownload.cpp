// The commissioning and service report of a controller for a period, as a
// PDF for operators. It is drawn by the table tool's `report` command (the
// code behind "Raport…" and `qta504-tables report`) in a child process:
// drawing the pages needs the plot widgets, which the collector does not
// link, and a year's report then never holds up the collector's loop. The
// answer goes out when the child has finished; the activity log records it.
#include "web/console.h"

#include "web/eventpage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace qta::web {

namespace {
QString q(const THttpRequest& r, const char* key) {
    return r.query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}
} // namespace

void TWebConsole::startReport(const THttpRequest& r, const TReply& reply, const TSession& s) {
    const QString name = q(r, "c");
    const QString what = QStringLiteral("raport PDF");
    QString problem;
    const TExportPeriod period = periodFromQuery(q(r, "od"), q(r, "do"), problem);
    const QString object =
        QStringLiteral("%1: %2 – %3")
            .arg(name.left(64), period.from ? period.from->toString(Qt::ISODate) : QString(),
                 period.to ? period.to->toString(Qt::ISODate) : QString());
    if (!roleAllows(s.role, Role::Operator)) {
        record(s.user, r.peer, what, object, kRefused,
               QStringLiteral("rola %1").arg(roleKeyword(s.role)));
        reply.send(THttpResponse::error(403, QStringLiteral("Brak uprawnień")));
        return;
    }
    const TSiteUnit* unit = nullptr;
    const QList<TSiteUnit> units = site_.units();
    for (const TSiteUnit& u : units)
        if (u.name == name)
            unit = &u;
    if (!unit) {
        reply.send(
            THttpResponse::error(404, QStringLiteral("Nie ma sterownika „%1”").arg(name.left(64))));
        return;
    }
    if (!problem.isEmpty()) {
        reply.send(THttpResponse::error(400, problem));
        return;
    }
    if (reportsRunning_ >= kMaxReports) {
        reply.send(THttpResponse::error(
            429, QStringLiteral("Przygotowywane są już %1 raporty; spróbuj za chwilę")
                     .arg(kMaxReports)));
        return;
    }
    auto dir = std::make_shared<QTemporaryDir>();
    if (!dir->isValid()) {
        reply.send(THttpResponse::error(
            500, QStringLiteral("Nie można utworzyć folderu tymczasowego raportu")));
        return;
    }
    const QString pdf = dir->filePath(QStringLiteral("raport.pdf"));
    QStringList args{QStringLiteral("report"), unit->core->dataFolder(), pdf};
    if (period.from)
        args << QStringLiteral("--from") << period.from->toString(Qt::ISODate);
    if (period.to)
        args << QStringLiteral("--to") << period.to->toString(Qt::ISODate);
    auto* child = new QProcess(this);
    child->setProgram(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qta504-tables")));
    child->setArguments(args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::SeparateChannels);
    ++reportsRunning_;
    const QString user = s.user;
    const QHostAddress peer = r.peer;
    QString file = QStringLiteral("raport-%1").arg(name);
    if (period.from)
        file += u'-' + period.from->toString(Qt::ISODate);
    if (period.to)
        file += u'-' + period.to->toString(Qt::ISODate);
    file.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    auto timer = new QTimer(child);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, child, [child] { child->kill(); });
    timer->start(kReportTimeoutMs);
    const auto finish = [this, child, dir, pdf, reply, user, peer, object, what, file](bool ran) {
        --reportsRunning_;
        QString why;
        QByteArray body;
        if (!ran)
            why = QStringLiteral("nie udało się uruchomić qta504-tables: %1")
                      .arg(child->errorString());
        else if (child->exitStatus() != QProcess::NormalExit)
            why = QStringLiteral("przygotowanie raportu przerwano");
        else if (child->exitCode() != 0)
            why = QString::fromUtf8(child->readAllStandardError()).trimmed().left(500);
        if (why.isEmpty()) {
            QFile f(pdf);
            if (f.open(QIODevice::ReadOnly))
                body = f.readAll();
            if (!body.startsWith("%PDF"))
                why = QStringLiteral("raport nie powstał");
        }
        record(user, peer, what, object, why.isEmpty() ? kSuccess : kFailed, why);
        if (!why.isEmpty()) {
            log_(4, QStringLiteral("konsola: raport %1: %2").arg(object, why));
            reply.send(
                THttpResponse::error(500, QStringLiteral("Raport nie powstał: %1").arg(why)));
        } else {
            reply.send(
                THttpResponse::attachment(body, "application/pdf", file.toLatin1() + ".pdf"));
        }
        child->deleteLater();
    };
    connect(child, &QProcess::finished, this, [finish] { finish(true); });
    connect(child, &QProcess::errorOccurred, this, [finish, child](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finish(false);
        (void)child;
    });
    child->start();
}

} // namespace qta::web
