#include "history/lineexport.h"

#include "tables/csv.h"
#include "tables/table.h"

#include <QDateTime>
#include <QSaveFile>
#include <algorithm>
#include <stdexcept>

namespace qta {

namespace {

// Writes "yyyy-MM-dd hh:mm:ss" at p (19 bytes). Days to a civil date after
// H. Hinnant's algorithm: a row's time costs no calendar object.
char* putWall(char* p, TWallMs t) {
    qint64 days = t / kMsPerDay, ms = t % kMsPerDay;
    if (ms < 0)
        ms += kMsPerDay, --days;
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 d = doy - (153 * mp + 2) / 5 + 1;
    const qint64 m = mp < 10 ? mp + 3 : mp - 9;
    const qint64 y = yoe + era * 400 + (m <= 2);
    const qint64 s = ms / 1000;
    const auto two = [&p](qint64 v, char after) {
        *p++ = char('0' + v / 10);
        *p++ = char('0' + v % 10);
        *p++ = after;
    };
    const qint64 yy = std::clamp<qint64>(y, 0, 9999);
    *p++ = char('0' + yy / 1000);
    *p++ = char('0' + yy / 100 % 10);
    two(yy % 100, '-');
    two(m, '-');
    two(d, ' ');
    two(s / 3600, ':');
    two(s / 60 % 60, ':');
    two(s % 60, ';');
    return p - 1;
}

char* putInt(char* p, int v) {
    char digits[12];
    int n = 0;
    unsigned u = unsigned(std::max(v, 0));
    do {
        digits[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    while (n)
        *p++ = digits[--n];
    return p;
}

} // namespace

QString wallText(TWallMs t) {
    char text[20];
    putWall(text, t);
    return QString::fromLatin1(text, 19);
}

TLineExport::TLineExport(const TLineIndex& index, int line, TWallMs t0, TWallMs t1)
    : table_(index.file().path()), layout_(index.file().layout()), line_(line),
      spans_(index.spansIn(t0, t1)) {
    for (const TRowSpan& s : spans_) {
        rows_ += s.end - s.begin;
        needRows_ = std::max(needRows_, s.end);
    }
}

TLineExport::Outcome TLineExport::write(const QString& file, QString* error,
                                        const std::function<bool(qint64)>& progress) const {
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("Eksport do pliku %1 nie powiódł się: %2").arg(file, why);
        return Outcome::Failed;
    };
    TLineFile table;
    try {
        table.open(table_);
    } catch (const ETable& e) {
        return fail(e.message());
    }
    if (table.layout() != layout_ || table.mappedRows() < needRows_)
        return fail(QStringLiteral("tabela %1 została w tym czasie zastąpiona innym plikiem; "
                                   "spróbuj ponownie")
                        .arg(table_));

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    const QString n = QStringLiteral("N%1").arg(line_);
    TCsvWriter header(&out);
    if (!header.writeRow({QStringLiteral("CZAS"), n + QStringLiteral("L1"),
                          n + QStringLiteral("L2"), n + QStringLiteral("L3")}))
        return fail(out.errorString());

    constexpr qint64 kChunk = 1 << 16; // rows between progress reports
    constexpr int kRowBytes = 19 + 3 * 6 + 2;
    QByteArray buffer(int(kChunk * kRowBytes), Qt::Uninitialized);
    char* p = buffer.data();
    const int k = 3 * (line_ - 1);
    qint64 done = 0;
    bool writeFailed = false;
    const bool complete = TLineIndex::forEachInOrder(table, spans_, [&](qint64 r) {
        p = putWall(p, table.time(r));
        for (int i = 0; i < 3; ++i) {
            *p++ = ';';
            const int v = table.volts(r, k + i);
            if (v != kNoVolts) // a missing value is an empty cell
                p = putInt(p, v);
        }
        *p++ = '\r';
        *p++ = '\n';
        if (++done % kChunk)
            return true;
        const qint64 bytes = p - buffer.data();
        if (out.write(buffer.constData(), bytes) != bytes) {
            writeFailed = true;
            return false;
        }
        p = buffer.data();
        return !progress || progress(done);
    });
    if (writeFailed)
        return fail(out.errorString());
    if (!complete) {
        out.cancelWriting();
        return Outcome::Stopped;
    }
    const qint64 bytes = p - buffer.data();
    if (out.write(buffer.constData(), bytes) != bytes || !out.commit())
        return fail(out.errorString());
    if (progress)
        progress(done);
    return Outcome::Written;
}

TLineExportJob::TLineExportJob(TLineExport what, QString file, QObject* parent)
    : TWorkerJob(parent), what_(std::move(what)), file_(std::move(file)) {}

void TLineExportJob::start() {
    run([what = what_, file = file_](const Progress& progress) {
        QString error;
        const qint64 total = what.rowCount();
        const auto outcome = what.write(
            file, &error, [&progress, total](qint64 done) { return progress(done, total); });
        if (outcome == TLineExport::Outcome::Failed)
            throw std::runtime_error(error.toStdString());
        return outcome == TLineExport::Outcome::Written;
    });
}

} // namespace qta
