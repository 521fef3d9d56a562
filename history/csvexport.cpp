#include "history/csvexport.h"

#include "tables/csv.h"
#include "tables/table.h"

#include <QSaveFile>
#include <vector>

namespace qta {

bool TExportPeriod::contains(const QDate& day) const {
    if (!day.isValid())
        return !bounded();
    return (!from || day >= *from) && (!to || day <= *to);
}

QString TExportPeriod::problem() const {
    if (from && to && *from > *to)
        return QStringLiteral("Początek okresu (%1) przypada po jego końcu (%2)")
            .arg(from->toString(Qt::ISODate), to->toString(Qt::ISODate));
    return {};
}

std::optional<QDate> parseExportDate(const QString& text) {
    if (text.size() != 10)
        return std::nullopt;
    const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
}

qint64 exportTableCsv(TTable& table, QIODevice& out, const TExportPeriod& period,
                      const TExportProgress& progress) {
    if (const QString p = period.problem(); !p.isEmpty())
        throw ETable(p);
    const QStringList names = table.fieldNames();
    const int fields = int(names.size());
    // The event log dates its rows by the text DATA, the voltage table by the
    // date and time CZAS.
    const int dataField = table.fieldIndex(QStringLiteral("DATA"));
    const int czasField = dataField < 0 ? table.fieldIndex(QStringLiteral("CZAS")) : -1;
    if (period.bounded() && dataField < 0 && czasField < 0)
        throw ETable(QStringLiteral("Tabela %1 nie ma pola DATA ani CZAS, więc nie da się "
                                    "wybrać z niej okresu")
                         .arg(table.fileName()));

    TCsvWriter writer(&out);
    const auto write = [&](const QStringList& row) {
        if (!writer.writeRow(row))
            throw ETable(
                QStringLiteral("Nie udało się zapisać danych CSV: %1").arg(out.errorString()));
    };
    write(names);
    const int rows = table.RecordCount();
    QStringList cells;
    cells.reserve(fields);
    for (int r = 0; r < rows; ++r) {
        if (progress && r % 4096 == 0 && !progress(r, rows))
            throw EExportStopped{};
        QDateTime czas;
        QDate day;
        if (dataField >= 0) {
            day = QDate::fromString(table.stringValue(r, dataField).left(10),
                                    QStringLiteral("yyyy-MM-dd"));
        } else if (czasField >= 0) {
            czas = table.dateTimeValue(r, czasField);
            day = czas.date();
        }
        if (!period.contains(day))
            continue;
        cells.clear();
        for (int f = 0; f < fields; ++f) {
            if (f == czasField)
                cells << (czas.isValid() ? czas.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                                         : QString());
            else
                cells << table.stringValue(r, f);
        }
        write(cells);
    }
    return writer.rowsWritten() - 1;
}

qint64 exportTableCsvFile(TTable& table, const QString& fileName, const TExportPeriod& period,
                          const TExportProgress& progress) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw ETable(
            QStringLiteral("Nie można utworzyć pliku %1: %2").arg(fileName, file.errorString()));
    qint64 rows = 0;
    try {
        rows = exportTableCsv(table, file, period, progress);
    } catch (const ETable& e) {
        file.cancelWriting();
        throw ETable(QStringLiteral("Nie zapisano pliku %1: %2").arg(fileName, e.message()));
    } catch (const EExportStopped&) {
        file.cancelWriting();
        throw;
    }
    if (progress && !progress(rows, rows)) { // stopped after the last row: still nothing
        file.cancelWriting();
        throw EExportStopped{};
    }
    if (!file.commit())
        throw ETable(QStringLiteral("Nie zapisano pliku %1: %2").arg(fileName, file.errorString()));
    return rows;
}

TTableExportJob::TTableExportJob(QString table, QString file, TExportPeriod period, QObject* parent)
    : TWorkerJob(parent), table_(std::move(table)), file_(std::move(file)),
      period_(std::move(period)) {}

void TTableExportJob::start() {
    run([table = table_, file = file_, period = period_, rows = rows_](const Progress& progress) {
        try {
            TTable t(table);
            t.Open();
            *rows = exportTableCsvFile(t, file, period, progress);
            return true;
        } catch (const EExportStopped&) {
            return false;
        }
    });
}

} // namespace qta
