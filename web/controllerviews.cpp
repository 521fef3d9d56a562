// What a controller's page reads, and the one thing it writes: the event log
// a page at a time with its date filter and its CSV, a remark typed into a
// row (rejestr.dbf only, refused as the event-log window refuses it), and the
// configuration of the last complete read. Nothing here reaches the
// controller.
#include "web/console.h"

#include "history/rejestrmodel.h"
#include "mimic/mimicview.h"
#include "report/reportcontent.h"
#include "settings/controllerfile.h"
#include "tables/table.h"
#include "web/eventpage.h"
#include "web/sitejson.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace qta::web {

namespace {

std::optional<TSiteUnit> unitOf(const TSite& site, const QString& name) {
    for (const TSiteUnit& u : site.units())
        if (u.name == name)
            return u;
    return std::nullopt;
}

THttpResponse noController(const QString& name) {
    return THttpResponse::error(404, QStringLiteral("Nie ma sterownika „%1”").arg(name.left(64)));
}

THttpResponse noLog(const QString& name) {
    return THttpResponse::error(
        503, QStringLiteral("Rejestr zdarzeń sterownika „%1” nie jest otwarty").arg(name));
}

QString q(const THttpRequest& r, const char* key) {
    return r.query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}

} // namespace

THttpResponse TWebConsole::eventLogPage(const THttpRequest& r, const TSession& s) {
    const QString name = q(r, "c");
    const auto u = unitOf(site_, name);
    if (!u)
        return noController(name);
    TTable* table = u->core->Rejestr();
    if (!table || !table->Active())
        return noLog(name);
    QString problem;
    const TExportPeriod period = periodFromQuery(q(r, "od"), q(r, "do"), problem);
    if (!problem.isEmpty())
        return THttpResponse::error(400, problem);
    const QString pageText = q(r, "strona");
    bool ok = true;
    const int page = pageText.isEmpty() ? 1 : pageText.toInt(&ok);
    if (!ok)
        return THttpResponse::error(400, QStringLiteral("Numer strony musi być liczbą"));
    TEventPage p;
    try {
        p = eventPage(*table, period, page);
    } catch (const ETable& e) { // a date that cannot be read while bisecting
        return THttpResponse::error(500, e.message());
    }
    if (!p.problem.isEmpty())
        return THttpResponse::error(400, p.problem);
    QJsonArray rows;
    for (const TEventRow& row : p.rows)
        rows.append(
            QJsonObject{{"row", row.row}, {"cells", QJsonArray::fromStringList(row.texts)}});
    QStringList columns;
    for (int c = 0; c < TRejestrModel::ColumnCount; ++c)
        columns << TRejestrModel::title(c);
    return THttpResponse::json(QJsonObject{
        {"columns", QJsonArray::fromStringList(columns)},
        {"rows", rows},
        {"total", p.total},
        {"page", p.page},
        {"pages", p.pages},
        {"tableRows", table->RecordCount()},
        {"canRemark", roleAllows(s.role, Role::Operator) && !table->ReadOnly()},
    });
}

void TWebConsole::eventLogCsv(const THttpRequest& r, const TReply& reply, const TSession& s) {
    const QString name = q(r, "c");
    const auto u = unitOf(site_, name);
    if (!u) {
        reply.send(noController(name));
        return;
    }
    TTable* table = u->core->Rejestr();
    if (!table || !table->Active()) {
        reply.send(noLog(name));
        return;
    }
    QString problem;
    const TExportPeriod period = periodFromQuery(q(r, "od"), q(r, "do"), problem);
    if (!problem.isEmpty()) {
        reply.send(THttpResponse::error(400, problem));
        return;
    }
    // Written by a worker through a table of its own (the rows there when it
    // starts), as the event-log window's export is, into a file of its own.
    auto dir = std::make_shared<QTemporaryDir>();
    const QString file = dir->filePath(QStringLiteral("rejestr.csv"));
    auto* job = new TTableExportJob(table->fileName(), file, period, this);
    const QString object = QStringLiteral("%1: %2 – %3")
                               .arg(name, period.from ? period.from->toString(Qt::ISODate) : "",
                                    period.to ? period.to->toString(Qt::ISODate) : "");
    const QString user = s.user;
    const QHostAddress peer = r.peer;
    connect(job, &TWorkerJob::finished, this,
            [this, job, dir, file, reply, user, peer, object](bool done, const QString& error) {
                QString why = done ? error : QStringLiteral("eksport przerwano");
                QByteArray body;
                if (why.isEmpty()) {
                    QFile f(file);
                    if (f.open(QIODevice::ReadOnly))
                        body = f.readAll();
                    else
                        why = f.errorString();
                }
                record(user, peer, QStringLiteral("eksport rejestru zdarzeń"), object,
                       why.isEmpty() ? kSuccess : kFailed,
                       why.isEmpty() ? QStringLiteral("wiersze: %1").arg(job->rows()) : why);
                if (!why.isEmpty()) {
                    reply.send(THttpResponse::error(500, why));
                } else {
                    reply.send(THttpResponse::csv(body, "rejestr.csv"));
                }
                job->deleteLater();
            });
    job->start();
}

THttpResponse TWebConsole::storeRemark(const THttpRequest& r, const TSession& s) {
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    const QString name = o.value(u"controller").toString();
    const int row = o.value(u"row").toInt(-1);
    const QString text = o.value(u"text").toString();
    const QString object = QStringLiteral("%1: wiersz %2").arg(name.left(64)).arg(row + 1);
    const QString what = QStringLiteral("uwaga w rejestrze zdarzeń");
    if (!roleAllows(s.role, Role::Operator)) {
        record(s.user, r.peer, what, object, kRefused,
               QStringLiteral("rola %1").arg(roleKeyword(s.role)));
        return THttpResponse::error(403, QStringLiteral("Brak uprawnień"));
    }
    const auto u = unitOf(site_, name);
    if (!u)
        return noController(name);
    TTable* table = u->core->Rejestr();
    if (!table || !table->Active())
        return noLog(name);
    if (!o.value(u"text").isString() || row < 0 || row >= table->RecordCount())
        return THttpResponse::error(
            400, QStringLiteral("Nie ma wiersza %1 w rejestrze zdarzeń").arg(row + 1));
    const int field = table->fieldIndex(QStringLiteral("UWAGI"));
    QString problem = TRejestrModel::remarkProblem(text, table->codePage());
    if (problem.isEmpty() && table->ReadOnly())
        problem = QStringLiteral("Uwagi nie zapisano: rejestr jest tylko do odczytu.");
    if (problem.isEmpty()) {
        try {
            table->rewriteString(row, field, text);
        } catch (const ETable& e) {
            problem = QStringLiteral("Uwagi nie zapisano: %1.").arg(e.message());
        }
    }
    record(s.user, r.peer, what, object, problem.isEmpty() ? kSuccess : kRefused,
           problem.isEmpty() ? text : problem);
    if (!problem.isEmpty())
        return THttpResponse::error(409, problem);
    QString stored = text;
    try {
        stored = table->stringValue(row, field); // as the file now holds it
    } catch (const ETable&) {
    }
    return THttpResponse::json(QJsonObject{{"ok", true}, {"text", stored}});
}

THttpResponse TWebConsole::configuration(const THttpRequest& r) {
    const QString name = q(r, "c");
    const auto u = unitOf(site_, name);
    if (!u)
        return noController(name);
    const QString path = u->core->controllerFilePath();
    if (!QFileInfo::exists(path))
        return THttpResponse::json(
            QJsonObject{{"known", false},
                        {"note", QStringLiteral("Sterownik nie został jeszcze w całości odczytany "
                                                "(brak pliku rejestr/sterownik.ini)")}});
    TSettingsFile f;
    try {
        f = readSettingsFile(path);
    } catch (const EBackup& e) {
        return THttpResponse::json(
            QJsonObject{{"known", false}, {"note", QString::fromStdString(e.what())}});
    }
    QJsonArray groups;
    for (const TSettingsGroup& g : settingsGroups()) {
        if (g.custom ? !f.hasCustom : !f.hasConfig)
            continue;
        QJsonArray rows;
        for (const char* c : g.components)
            if (const TFieldDesc* d =
                    findField(g.custom ? customFields() : configFields(), QLatin1String(c)))
                rows.append(QJsonArray::fromStringList(settingRow(*d, f.konf)));
        groups.append(QJsonObject{{"title", g.title}, {"rows", rows}});
    }
    return THttpResponse::json(QJsonObject{{"known", true},
                                           {"id", f.controllerId},
                                           {"read", isoOrEmpty(f.saved)},
                                           {"groups", groups}});
}

THttpResponse TWebConsole::mimicLayoutAnswer(const THttpRequest& r) {
    bool ok = false;
    const int program = q(r, "program").toInt(&ok);
    const TMimicLayout* layout = ok ? mimicLayout(program) : nullptr;
    if (!layout)
        return THttpResponse::error(
            404, QStringLiteral("Program %1 nie ma schematu").arg(q(r, "program").left(8)));
    THttpResponse out = THttpResponse::json(mimicLayoutJson(*layout));
    out.noStore = false; // the same for as long as the collector runs
    return out;
}

} // namespace qta::web
