// qta504-tables report DIR OUT.pdf [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--backup FILE]:
// the commissioning and service report of a data folder, without a window.
#include "history/csvexport.h"
#include "report/reportcontent.h"
#include "report/reportpdf.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

using namespace qta;

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "qta504-tables: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int reportCommand(int argc, char** argv) {
    // The charts are drawn by a plot widget: an application is needed, a
    // display is not.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(2);

    TReportRequest rq;
    QString out;
    QStringList plain;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--from" || a == u"--to" || a == u"--backup") {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("opcja %1 wymaga wartości").arg(a));
            const QString v = args[++i];
            if (a == u"--backup") {
                rq.backupFile = v;
                continue;
            }
            const std::optional<QDate> d = parseExportDate(v);
            if (!d)
                return fail(
                    QStringLiteral("%1: „%2” nie jest datą w postaci RRRR-MM-DD").arg(a, v));
            (a == u"--from" ? rq.from : rq.to) = d;
        } else if (a.startsWith(u'-')) {
            return fail(
                QStringLiteral("nieznana opcja %1 (dozwolone: --from, --to, --backup)").arg(a));
        } else {
            plain << a;
        }
    }
    if (plain.size() != 2)
        return fail(
            QStringLiteral("użycie: qta504-tables report FOLDER PLIK.pdf [--from RRRR-MM-DD] "
                           "[--to RRRR-MM-DD] [--backup PLIK]"));
    rq.dataDir = plain[0];
    out = plain[1];
    const QFileInfo target(out);
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("folder %1 na plik raportu nie istnieje")
                        .arg(target.absoluteDir().path()));
    if (target.isDir())
        return fail(QStringLiteral("%1 jest folderem, nie plikiem").arg(out));

    QElapsedTimer clock;
    clock.start();
    try {
        const TReportFile r = makeReportPdf(rq, out);
        std::printf("qta504-tables: raport %s: %s, %s, okres %s, %.1f s\n", qPrintable(out),
                    qPrintable(polishCount(r.pages, "strona", "strony", "stron")),
                    qPrintable(polishCount(r.events, "zdarzenie", "zdarzenia", "zdarzeń")),
                    qPrintable(periodText(r.from, r.to)), double(clock.elapsed()) / 1000.0);
    } catch (const EReport& e) {
        return fail(e.message());
    }
    return 0;
}
