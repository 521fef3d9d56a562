// qta504-tables: makes the two empty local tables for a new installation,
// prints a table as text, checks a table for a torn append, exports a period
// as CSV, generates a voltage history and makes the report of a data folder.
#include "history/csvexport.h"
#include "history/linegen.h"
#include "tables/table.h"
#include "tables/tablecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <string_view>

using namespace qta;

namespace {

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}

QTextStream& err() {
    static QTextStream s(stderr);
    return s;
}

int usage() {
    err()
        << "Usage:\n"
           "  qta504-tables create DIR   make DIR/rejestr/ with empty rejestr.dbf, linia.dbf, "
           "alarmy.dbf\n"
           "  qta504-tables dump FILE    print a table as tab-separated UTF-8 text\n"
           "  qta504-tables check FILE   compare the header's row count with the file length\n"
           "                             (exit 0 when they agree, 1 when not)\n"
           "  qta504-tables export FILE [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
           "                             print the rows of a period (both days included) as\n"
           "                             CSV: UTF-8 with BOM, ';' between fields, a header row\n"
           "  qta504-tables generate FILE --rows N --end \"YYYY-MM-DD hh:mm:ss\" [--seed S]\n"
           "                             write a new linia.dbf of N rows, one a second, ending\n"
           "                             at the given wall time (tests and measurements)\n"
           "  qta504-tables report DIR OUT.pdf [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--backup "
           "FILE]\n"
           "                             the commissioning and service report of the data folder\n"
           "                             DIR (the one holding rejestr/) as a PDF file\n";
    err().flush();
    return 2;
}

int create(const QString& dir) {
    const QString folder = QDir(dir).filePath(QStringLiteral("rejestr"));
    const QString rejestr = QDir(folder).filePath(QStringLiteral("rejestr.dbf"));
    const QString linia = QDir(folder).filePath(QStringLiteral("linia.dbf"));
    const QString alarmy = QDir(folder).filePath(QStringLiteral("alarmy.dbf"));
    // All or none: a half-made installation is worse than none.
    for (const QString& f : {rejestr, linia, alarmy}) {
        if (QFileInfo::exists(f)) {
            err() << "qta504-tables: " << f << " already exists; nothing created\n";
            return 1;
        }
    }
    if (!QDir().mkpath(folder)) {
        err() << "qta504-tables: cannot create folder " << folder << "\n";
        return 1;
    }
    TTable::createPair(rejestr, linia, alarmy);
    out() << "created " << rejestr << "\ncreated " << linia << "\ncreated " << alarmy << "\n";
    return 0;
}

QString cell(QString v) {
    // One row per line, one column per tab, whatever a remark holds.
    for (QChar& c : v)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return v;
}

int dump(const QString& file) {
    TTable t(file);
    t.Open();
    const QStringList names = t.fieldNames();
    out() << names.join(u'\t') << '\n';
    const int rows = t.RecordCount();
    for (int r = 0; r < rows; ++r) {
        for (int f = 0; f < names.size(); ++f) {
            if (f > 0)
                out() << '\t';
            out() << cell(t.stringValue(r, f));
        }
        out() << '\n';
    }
    return 0;
}

int check(const QString& file) {
    const dbf::TableCheck c = dbf::checkTable(file);
    out() << c.report;
    return c.agree ? 0 : 1;
}

// export FILE [--from YYYY-MM-DD] [--to YYYY-MM-DD]
int exportCsv(const QStringList& args) {
    QString file;
    TExportPeriod period;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--from" || a == u"--to") {
            const std::optional<QDate> d =
                i + 1 < args.size() ? parseExportDate(args[i + 1]) : std::nullopt;
            if (!d) {
                err() << "qta504-tables: " << a << " needs a date as YYYY-MM-DD, not \""
                      << (i + 1 < args.size() ? args[i + 1] : QString()) << "\"\n";
                return 2;
            }
            (a == u"--from" ? period.from : period.to) = d;
            ++i;
        } else if (file.isEmpty() && !a.startsWith(u'-')) {
            file = a;
        } else {
            return usage();
        }
    }
    if (file.isEmpty())
        return usage();
    TTable t(file);
    t.Open();
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        err() << "qta504-tables: cannot write to standard output\n";
        return 2;
    }
    exportTableCsv(t, out, period);
    if (!out.flush()) {
        err() << "qta504-tables: writing the CSV failed: " << out.errorString() << "\n";
        return 2;
    }
    return 0;
}

int generate(const QStringList& args) {
    TLineGenOptions o;
    bool ok = args.size() >= 2;
    for (int i = 1; ok && i + 1 < args.size(); i += 2) {
        const QString& opt = args[i];
        const QString& val = args[i + 1];
        if (opt == u"--rows")
            o.rows = val.toLongLong(&ok);
        else if (opt == u"--seed")
            o.seed = val.toULongLong(&ok);
        else if (opt == u"--end")
            ok = (o.end = QDateTime::fromString(val, QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                     .isValid();
        else
            ok = false;
        if (!ok)
            err() << "qta504-tables: bad option or value: " << opt << " " << val << "\n";
    }
    if (!ok || args.size() % 2 != 1 || o.rows <= 0 || !o.end.isValid())
        return usage();
    const TLineGenReport r = generateLinia(args[0], o);
    const QString fmt = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    out() << "generated " << args[0] << ": " << r.rows << " rows from " << r.first.toString(fmt)
          << " to " << r.last.toString(fmt) << ", " << r.stops << " stops, " << r.backJumps
          << " clock set back, " << r.forwardJumps << " set forward\n";
    return 0;
}

} // namespace

int reportCommand(int argc, char** argv); // reportcommand.cpp

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "report")
        return reportCommand(argc, argv);
    const int rc = [&] {
        if (argc >= 2 && QString::fromLocal8Bit(argv[1]) == u"generate") {
            QStringList args;
            for (int i = 2; i < argc; ++i)
                args << QString::fromLocal8Bit(argv[i]);
            try {
                return generate(args);
            } catch (const ETable& e) {
                err() << "qta504-tables: " << e.message() << "\n";
                return 2;
            }
        }
        if (argc >= 2 && std::string_view(argv[1]) == "export") {
            QStringList args;
            for (int i = 2; i < argc; ++i)
                args << QFile::decodeName(argv[i]);
            try {
                return exportCsv(args);
            } catch (const ETable& e) {
                err() << "qta504-tables: " << e.message() << "\n";
                return 2;
            }
        }
        if (argc != 3)
            return usage();
        const QString cmd = QString::fromLocal8Bit(argv[1]);
        const QString arg = QFile::decodeName(argv[2]);
        try {
            if (cmd == u"create")
                return create(arg);
            if (cmd == u"dump")
                return dump(arg);
            if (cmd == u"check")
                return check(arg);
        } catch (const ETable& e) {
            out().flush();
            err() << "qta504-tables: " << e.message() << "\n";
            return 2;
        }
        return usage();
    }();
    out().flush();
    err().flush();
    return rc;
}
