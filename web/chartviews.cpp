// A controller's voltage charts: per supply line, each pixel column's lowest,
// last and highest value of the three phases over any period, from the line
// index the desktop's chart windows query (history/lineindex: M4 per column
// from the block summaries), never from raw rows. One index per controller,
// kept for as long as the console runs; the first build of a large table runs
// on a worker thread (the page is told to wait), later requests read only the
// rows appended since.
#include "web/console.h"

#include "history/chartstate.h"
#include "history/lineexport.h"
#include "history/linehistory.h"
#include "tables/table.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

namespace qta::web {

namespace {

constexpr int kMaxColumns = 4000;
constexpr TWallMs kMaxWindow = 400LL * 24 * 3600 * 1000; // a year and some

QString q(const THttpRequest& r, const char* key) {
    return r.query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}

// Each column's lowest, last and highest value of every phase (null where a
// phase has no value in the column): what dygraphs draws as a line in a band.
QJsonArray columnBands(const TChartSeries& s, const TColumns& cols) {
    struct Cell {
        int lo = 0, hi = 0, first = 0, last = 0;
        bool any = false;
    };
    std::vector<std::array<Cell, 3>> cells(size_t(cols.width));
    for (size_t p = 0; p < 3; ++p)
        for (const TChartPoint& pt : s[p]) {
            const qint64 c = cols.column(pt.t);
            if (c < 0 || c >= cols.width)
                continue; // the nearest points beyond the edges
            Cell& cell = cells[size_t(c)][p];
            if (!cell.any)
                cell.first = pt.v;
            cell.lo = cell.any ? std::min(cell.lo, pt.v) : pt.v;
            cell.hi = cell.any ? std::max(cell.hi, pt.v) : pt.v;
            cell.last = pt.v; // the points come in time order
            cell.any = true;
        }
    QJsonArray rows;
    const double step = double(cols.t1 - cols.t0) / cols.width;
    for (qint64 c = 0; c < cols.width; ++c) {
        const auto& cell = cells[size_t(c)];
        if (!cell[0].any && !cell[1].any && !cell[2].any)
            continue;
        QJsonArray row{double(cols.t0 + qint64((double(c) + 0.5) * step))};
        for (const Cell& k : cell)
            row.append(k.any ? QJsonValue(QJsonArray{k.lo, k.last, k.hi, k.first}) : QJsonValue());
        rows.append(row);
    }
    return rows;
}

} // namespace

TLineHistory* TWebConsole::lineHistory(const QString& name) {
    std::unique_ptr<TLineHistory>& history = histories_[name];
    if (!history) {
        history = std::make_unique<TLineHistory>([this, name]() -> TTable* {
            for (const TSiteUnit& u : site_.units())
                if (u.name == name)
                    return u.core->Linia();
            return nullptr;
        });
    }
    history->refresh();
    return history.get();
}

void TWebConsole::chartCsv(const THttpRequest& r, const TReply& reply, const TSession& s) {
    const QString name = q(r, "c");
    bool known = false;
    for (const TSiteUnit& u : site_.units())
        known |= u.name == name;
    if (!known) {
        reply.send(
            THttpResponse::error(404, QStringLiteral("Nie ma sterownika „%1”").arg(name.left(64))));
        return;
    }
    bool ok1 = false, ok2 = false, ok3 = false;
    const int line = q(r, "linia").toInt(&ok1);
    const TWallMs t0 = q(r, "od").toLongLong(&ok2);
    const TWallMs t1 = q(r, "do").toLongLong(&ok3);
    if (!ok1 || line < 1 || line > 3 || !ok2 || !ok3 || t1 <= t0) {
        reply.send(THttpResponse::error(
            400, QStringLiteral("Podaj linię (1–3) i okres (od, do w milisekundach, koniec po "
                                "początku)")));
        return;
    }
    const TLineIndex* index = nullptr;
    try {
        index = lineHistory(name)->index();
    } catch (const ETable& e) {
        reply.send(THttpResponse::error(503, e.message()));
        return;
    }
    if (!index) {
        reply.send(THttpResponse::error(
            503, QStringLiteral("Indeks historii napięć jest budowany; spróbuj za chwilę")));
        return;
    }
    TLineExport what(*index, line, t0, t1);
    if (what.rowCount() > kMaxCsvRows) {
        reply.send(THttpResponse::error(
            400, QStringLiteral("Okres ma %1 pomiarów, a plik CSV najwyżej %2 (31 dni po "
                                "pomiarze na sekundę); wybierz krótszy okres")
                     .arg(what.rowCount())
                     .arg(kMaxCsvRows)));
        return;
    }
    auto dir = std::make_shared<QTemporaryDir>();
    const QString file = dir->filePath(QStringLiteral("linia.csv"));
    auto* job = new TLineExportJob(std::move(what), file, this);
    const QString user = s.user;
    const QHostAddress peer = r.peer;
    const QString object = QStringLiteral("%1: linia N%2").arg(name).arg(line);
    connect(
        job, &TWorkerJob::finished, this,
        [this, job, dir, file, reply, user, peer, object, line](bool done, const QString& error) {
            QByteArray body;
            QString why = error;
            if (done && why.isEmpty()) {
                QFile f(file);
                if (f.open(QIODevice::ReadOnly))
                    body = f.readAll();
                else
                    why = f.errorString();
            } else if (why.isEmpty()) {
                why = QStringLiteral("eksport przerwano");
            }
            record(user, peer, QStringLiteral("eksport napięć"), object,
                   why.isEmpty() ? kSuccess : kFailed, why);
            if (!why.isEmpty()) {
                reply.send(THttpResponse::error(500, why));
            } else {
                reply.send(THttpResponse::csv(body, "linia-N" + QByteArray::number(line) + ".csv"));
            }
            job->deleteLater();
        });
    job->start();
}

THttpResponse TWebConsole::chartData(const THttpRequest& r) {
    const QString name = q(r, "c");
    TSiteUnit unit;
    bool found = false;
    for (const TSiteUnit& u : site_.units())
        if (u.name == name) {
            unit = u;
            found = true;
        }
    if (!found)
        return THttpResponse::error(404,
                                    QStringLiteral("Nie ma sterownika „%1”").arg(name.left(64)));
    bool ok1 = false, ok2 = false, ok3 = false, ok4 = false;
    const int line = q(r, "linia").toInt(&ok1);
    const TWallMs t0 = q(r, "od").toLongLong(&ok2);
    const TWallMs t1 = q(r, "do").toLongLong(&ok3);
    const int width = q(r, "kolumny").toInt(&ok4);
    if (!ok1 || line < 1 || line > 3)
        return THttpResponse::error(400, QStringLiteral("Linia musi być liczbą od 1 do 3"));
    if (!ok2 || !ok3)
        return THttpResponse::error(400, QStringLiteral("Okres wykresu musi być podany w "
                                                        "milisekundach (od, do)"));
    if (t1 <= t0)
        return THttpResponse::error(
            400, QStringLiteral("Koniec okresu wykresu jest wcześniej niż jego początek"));
    if (t1 - t0 > kMaxWindow)
        return THttpResponse::error(
            400, QStringLiteral("Wykres obejmuje najwyżej 400 dni; wybierz krótszy okres"));
    if (!ok4 || width < 1 || width > kMaxColumns)
        return THttpResponse::error(
            400, QStringLiteral("Liczba kolumn wykresu musi wynosić od 1 do %1").arg(kMaxColumns));

    TLineHistory* history = nullptr;
    try {
        history = lineHistory(name);
    } catch (const ETable& e) {
        return THttpResponse::error(503, e.message());
    }
    const TLineIndex* index = history->index();
    if (!index)
        return THttpResponse::json(
            QJsonObject{{"building", true}, {"percent", history->progressPercent()}}, 202);
    TColumns cols;
    cols.t0 = t0;
    cols.t1 = t1;
    cols.width = width;
    QJsonArray scales;
    for (const TScaleStep& s : scaleTable())
        scales.append(QJsonObject{{"window", double(s.window)},
                                  {"move", double(s.move)},
                                  {"period", double(s.period)},
                                  {"text", QString::fromUtf8(s.text).trimmed()}});
    TWallMs first = 0, last = 0;
    const bool any = index->timeRange(first, last);
    return THttpResponse::json(QJsonObject{
        {"rows", columnBands(index->query(line, cols), cols)},
        {"t0", double(t0)},
        {"t1", double(t1)},
        {"columns", width},
        {"now", double(wallNow())},
        {"first", any ? QJsonValue(double(first)) : QJsonValue()},
        {"last", any ? QJsonValue(double(last)) : QJsonValue()},
        {"tableRows", double(index->rows())},
        {"scales", scales},
    });
}

} // namespace qta::web
