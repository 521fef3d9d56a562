#include "report/reportdata.h"

#include "alarms/alarm.h"
#include "alarms/alarmjournal.h"
#include "core/version.h"
#include "settings/controllerfile.h"
#include "tables/table.h"

#include <QDir>
#include <QFileInfo>

namespace qta {

TWallMs wallMidnight(const QDate& day) {
    return QDateTime(day, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
}

QString TReportData::lineTitle(int line) const {
    return lineName(hasConfig ? konf.Progr : 0, line);
}

namespace {

QDateTime wall(const QDateTime& t) { return QDateTime(t.date(), t.time(), Qt::UTC); }

QString stamp(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("?");
}

// The settings: a backup file first, what it lacks from sterownik.ini.
void readSettings(const TReportRequest& rq, const QString& folder, TReportData& d) {
    const QString own = QDir(folder).filePath(kControllerFileName);
    std::optional<TSettingsFile> last, backup;
    try {
        if (QFileInfo::exists(own))
            last = readSettingsFile(own);
    } catch (const EBackup& e) {
        throw EReport(QStringLiteral("Zapis ostatniego odczytu sterownika jest nieczytelny: %1")
                          .arg(QString::fromUtf8(e.what())));
    }
    if (!rq.backupFile.isEmpty()) {
        if (!QFileInfo::exists(rq.backupFile))
            throw EReport(QStringLiteral("Plik kopii ustawień %1 nie istnieje").arg(rq.backupFile));
        try {
            backup = readSettingsFile(rq.backupFile);
        } catch (const EBackup& e) {
            throw EReport(QStringLiteral("Pliku kopii ustawień nie można użyć: %1")
                              .arg(QString::fromUtf8(e.what())));
        }
    }
    const auto origin = [](const TSettingsFile& f, bool fromOwn) {
        return fromOwn ? QStringLiteral("ostatni odczyt ze sterownika, %1 (rejestr/%2)")
                             .arg(stamp(f.saved), kControllerFileName)
                       : QStringLiteral("plik kopii ustawień %1, zapisany %2")
                             .arg(QFileInfo(f.path).fileName(), stamp(f.saved));
    };
    const auto notes = [&d](const TSettingsFile& f) {
        if (!f.missing.isEmpty())
            d.settingsNotes << QStringLiteral("W pliku %1 brak kluczy (pokazano 0): %2")
                                   .arg(QFileInfo(f.path).fileName(),
                                        f.missing.join(QStringLiteral(", ")));
        if (!f.unknown.isEmpty())
            d.settingsNotes << QStringLiteral("W pliku %1 pominięto nieznane klucze: %2")
                                   .arg(QFileInfo(f.path).fileName(),
                                        f.unknown.join(QStringLiteral(", ")));
    };
    for (const auto& [f, isOwn] : {std::pair{&last, true}, std::pair{&backup, false}}) {
        if (!*f)
            continue;
        const TSettingsFile& s = **f;
        // The backup's parts take the place of those from the last read.
        const auto take = [&](const std::vector<TFieldDesc>& fields) {
            for (const TFieldDesc& field : fields)
                field.set(d.konf, field.get(s.konf));
        };
        if (s.hasConfig) {
            take(configFields());
            d.hasConfig = true;
            d.configSource = origin(s, isOwn);
        }
        if (s.hasCustom) {
            take(customFields());
            d.hasCustom = true;
            d.customSource = origin(s, isOwn);
        }
        if (!s.controllerId.isEmpty())
            d.controllerId = s.controllerId;
        notes(s);
    }
}

std::vector<TReportEvent> readEvents(const QString& file, qint64& rows) {
    TTable t(file);
    t.Open();
    const int fData = t.fieldIndex(QStringLiteral("DATA")),
              fCzas = t.fieldIndex(QStringLiteral("CZAS")),
              fText = t.fieldIndex(QStringLiteral("ZDARZENIE")),
              fRemark = t.fieldIndex(QStringLiteral("UWAGI"));
    if (fData < 0 || fCzas < 0 || fText < 0)
        throw EReport(QStringLiteral("Tabela %1 nie jest rejestrem zdarzeń (brak pól DATA, CZAS, "
                                     "ZDARZENIE)")
                          .arg(file));
    std::array<int, 3> fState{};
    for (int n = 0; n < 3; ++n)
        fState[size_t(n)] = t.fieldIndex(QStringLiteral("N%1_STATUS").arg(n + 1));
    std::vector<TReportEvent> out;
    rows = t.RecordCount();
    out.reserve(size_t(rows));
    for (int r = 0; r < rows; ++r) {
        TReportEvent e;
        e.date = t.stringValue(r, fData).trimmed();
        e.time = t.stringValue(r, fCzas).trimmed();
        const QDate day = QDate::fromString(e.date.left(10), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(e.time, QStringLiteral("HH:mm"));
        if (day.isValid())
            e.when = QDateTime(day, time.isValid() ? time : QTime(0, 0), Qt::UTC);
        e.text = t.stringValue(r, fText).trimmed();
        for (size_t n = 0; n < 3; ++n)
            e.states[n] = fState[n] < 0 ? QString() : t.stringValue(r, fState[n]).trimmed();
        e.remark = fRemark < 0 ? QString() : t.stringValue(r, fRemark).trimmed();
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<TReportAlarm> readAlarms(const QString& file) {
    TTable t(file);
    t.Open();
    const auto f = [&t](const char* name) { return t.fieldIndex(QLatin1String(name)); };
    const int czas = f("CZAS"), alarm = f("ALARM"), prio = f("PRIORYTET"), stan = f("STAN"),
              kto = f("KTO"), uwagi = f("UWAGI");
    if (czas < 0 || alarm < 0)
        throw EReport(
            QStringLiteral("Tabela %1 nie jest dziennikiem alarmów (brak pól CZAS, ALARM)")
                .arg(file));
    const auto text = [&t](int r, int field) {
        return field < 0 ? QString() : t.stringValue(r, field).trimmed();
    };
    std::vector<TReportAlarm> out;
    for (int r = 0; r < t.RecordCount(); ++r)
        out.push_back({wall(t.dateTimeValue(r, czas)), text(r, alarm), text(r, prio), text(r, stan),
                       text(r, kto), text(r, uwagi)});
    return out;
}

} // namespace

TReportData gatherReport(const TReportRequest& rq) {
    TReportData d;
    d.sections = rq.sections;
    d.made = rq.made.isValid() ? rq.made : QDateTime::currentDateTime();
    d.user = rq.user.isEmpty() ? currentUserName() : rq.user;
    d.version = programVersion();
    const QFileInfo dir(rq.dataDir);
    if (rq.dataDir.isEmpty() || !dir.isDir())
        throw EReport(QStringLiteral("Folder danych %1 nie istnieje").arg(rq.dataDir));
    d.dataDir = dir.absoluteFilePath();
    const QString folder = QDir(d.dataDir).filePath(QStringLiteral("rejestr"));
    if (!QFileInfo(folder).isDir())
        throw EReport(QStringLiteral("W folderze %1 nie ma podfolderu rejestr/: to nie jest folder "
                                     "danych programu")
                          .arg(d.dataDir));
    const QString rejestr = QDir(folder).filePath(QStringLiteral("rejestr.dbf"));
    const QString linia = QDir(folder).filePath(QStringLiteral("linia.dbf"));
    const QString alarmy = QDir(folder).filePath(QStringLiteral("alarmy.dbf"));
    for (const QString& t : {rejestr, linia})
        if (!QFileInfo::exists(t))
            throw EReport(QStringLiteral("Brak tabeli %1 w folderze %2")
                              .arg(QFileInfo(t).fileName(), folder));
    if (rq.from && rq.to && *rq.from > *rq.to)
        throw EReport(QStringLiteral("Początek okresu (%1) przypada po jego końcu (%2)")
                          .arg(rq.from->toString(Qt::ISODate), rq.to->toString(Qt::ISODate)));

    readSettings(rq, folder, d);

    std::vector<TReportEvent> all;
    try {
        all = readEvents(rejestr, d.logRows);
        auto index = std::make_shared<TLineIndex>();
        index->open(linia);
        d.index = std::move(index);
        if ((d.alarmJournal = QFileInfo::exists(alarmy)))
            for (TReportAlarm& a : readAlarms(alarmy))
                d.alarms.push_back(std::move(a));
    } catch (const ETable& e) {
        throw EReport(e.message());
    }

    // Open ends of the period: the first and the last day with data.
    QDate first, last;
    const auto seen = [&](const QDate& day) {
        if (!day.isValid())
            return;
        first = first.isValid() ? std::min(first, day) : day;
        last = last.isValid() ? std::max(last, day) : day;
    };
    for (const TReportEvent& e : all)
        seen(e.when.date());
    if (TWallMs a = 0, b = 0; d.index->timeRange(a, b)) {
        seen(QDateTime::fromMSecsSinceEpoch(a, Qt::UTC).date());
        seen(QDateTime::fromMSecsSinceEpoch(b, Qt::UTC).date());
    }
    const QDate today = d.made.date();
    d.from = rq.from ? *rq.from : first.isValid() ? first : today;
    d.to = rq.to ? *rq.to : last.isValid() ? std::max(last, d.from) : std::max(today, d.from);
    if (rq.to && !rq.from && d.from > d.to)
        d.from = d.to;
    d.t0 = wallMidnight(d.from);
    d.t1 = wallMidnight(d.to.addDays(1));

    for (TReportEvent& e : all)
        if (e.when.isValid() && e.when.date() >= d.from && e.when.date() <= d.to)
            d.events.push_back(std::move(e));
    std::erase_if(d.alarms, [&d](const TReportAlarm& a) {
        return !a.when.isValid() || a.when.date() < d.from || a.when.date() > d.to;
    });

    TReportSummary& s = d.summary;
    s.events = int(d.events.size());
    s.kinds = countEventKinds(d.events);
    const QDateTime end = std::min(QDateTime(d.to.addDays(1), QTime(0, 0), Qt::UTC), wall(d.made));
    s.longest = longestWithoutGoodLine(d.events, end, &s.noGoodLineTimes);
    s.volts = d.index->extremes(d.t0, d.t1 - 1);

    // The lines the configured program uses; without a configuration, those
    // that had any voltage in the period.
    for (int n = 1; n <= 3; ++n)
        if (d.hasConfig && programUsesLine(d.konf.Progr, n))
            d.lines.push_back(n);
    if (d.lines.empty() && s.volts.rows > 0)
        for (int n = 1; n <= 3; ++n) {
            const auto k = size_t(3 * (n - 1));
            if (s.volts.hi[k] > 0 || s.volts.hi[k + 1] > 0 || s.volts.hi[k + 2] > 0)
                d.lines.push_back(n);
        }
    return d;
}

} // namespace qta
