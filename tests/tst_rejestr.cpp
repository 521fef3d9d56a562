// The event-log window over a real rejestr.dbf: the grid, remarks written
// through to the file (also across a SIGKILL of the process), remarks the
// table cannot hold, following the download from the controller simulator,
// and the CSV export (core, dialog and qta504-tables).
#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/wiring.h"
#include "history/csvexport.h"
#include "history/eksportdialog.h"
#include "history/rejestrmodel.h"
#include "history/rejestrwindow.h"
#include "simprocess.h"
#include "tables/table.h"
#include "testpaths.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>

using namespace qta;

namespace {

const QString kTable = QStringLiteral("rejestr/rejestr.dbf");

struct Ev {
    int indeks;
    QString data, czas, zdarzenie, uwagi;
};

void append(const QList<Ev>& rows, const QString& file = kTable, bool syncEachRow = true) {
    TTable t(file);
    t.Open();
    t.setSyncEveryPost(syncEachRow);
    for (const Ev& e : rows) {
        t.Append();
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(e.indeks);
        t.FieldByName(QStringLiteral("DATA")).setAsString(e.data + u' ');
        t.FieldByName(QStringLiteral("CZAS")).setAsString(e.czas);
        t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(e.zdarzenie);
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(e.uwagi);
        t.FieldByName(QStringLiteral("N1_STATUS")).setAsString(QStringLiteral("Linia Dobra"));
        t.FieldByName(QStringLiteral("PROGRAM")).setAsString(QStringLiteral("N1 + N2 + N3"));
        t.Post();
    }
}

// `n` rows with INDEKS 0 .. n-1, one a day from 2024-01-01.
void appendDays(int n) {
    QList<Ev> rows;
    for (int i = 0; i < n; ++i)
        rows << Ev{i, QDate(2024, 1, 1).addDays(i).toString(Qt::ISODate), QStringLiteral("12:00"),
                   QStringLiteral("Zanik napięcia linii N%1").arg(i % 3 + 1), QString()};
    append(rows);
}

// UWAGI of a row as the file holds it now (a fresh reader).
QString storedRemark(int row) {
    TTable t(kTable);
    t.Open();
    return t.stringValue(row, t.fieldIndex(QStringLiteral("UWAGI")));
}

int storedRows() {
    TTable t(kTable);
    t.Open();
    return t.RecordCount();
}

// Types `text` into the Uwagi cell of `row` as the user does: a key opens
// the editor (QTest cannot type letters beyond Latin-1: the rest is put in).
QLineEdit* typeRemark(TRejestrForm& f, int row, const QString& text) {
    TRejestrGrid* g = f.DBGrid1();
    g->setFocus();
    g->setCurrentIndex(f.model()->index(row, TRejestrModel::ColUwagi));
    QTest::keyClick(g, Qt::Key_X);
    auto* editor = qobject_cast<QLineEdit*>(g->indexWidget(g->currentIndex()));
    if (editor)
        editor->setText(text);
    return editor;
}

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The child process of sigkillAfterLeavingRow: types a remark, leaves the
// row, says so on standard output and waits to be killed.
int childMain(const QString& dir) {
    QDir::setCurrent(dir);
    TQTA504 main;
    wireWindows(main);
    main.core.openTables();
    main.show();
    main.Widok_Rejestr->trigger();
    auto* f = qobject_cast<TRejestrForm*>(main.windowItem(main.Widok_Rejestr)->window()->widget());
    if (!f || !typeRemark(*f, 0, QStringLiteral("wymiana bezpiecznika F2, łączówka")))
        return 3;
    f->DBGrid1()->setCurrentIndex(f->model()->index(1, TRejestrModel::ColUwagi));
    std::printf("left-row\n");
    std::fflush(stdout);
    return QApplication::exec();
}

} // namespace

class TestRejestr : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TQTA504> main_;
    QString oldCwd_;

    // The main window with its tables open (no start window, no port).
    TQTA504& startMain() {
        main_ = std::make_unique<TQTA504>();
        wireWindows(*main_);
        main_->setGeometry(0, 0, 1100, 700);
        main_->show();
        main_->core.openTables();
        return *main_;
    }
    TRejestrForm* form() const {
        TChildWindow* w = main_->windowItem(main_->Widok_Rejestr)->window();
        return w ? qobject_cast<TRejestrForm*>(w->widget()) : nullptr;
    }
    TRejestrForm& openForm() {
        if (!form())
            main_->Widok_Rejestr->trigger();
        settle();
        return *form();
    }
    static void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        QVERIFY(QDir().mkpath(QStringLiteral("rejestr")));
        TTable::createRejestr(kTable);
        TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
    }
    void cleanup() {
        if (main_)
            main_->close();
        main_.reset();
        flushDeletes();
        QDir::setCurrent(oldCwd_);
        dir_.reset();
    }

    // ------------------------------------------------------------ the grid

    // "Rejestr" twice opens and closes the window; an empty log has titles only.
    void itemOpensAndClosesEmptyGrid() {
        TQTA504& m = startMain();
        m.Widok_Rejestr->trigger();
        QVERIFY(m.Widok_Rejestr->isChecked());
        TRejestrForm* f = form();
        QVERIFY(f);
        QCOMPARE(f->windowTitle(), QStringLiteral("Rejestr zdarzeń"));
        QCOMPARE(f->size(), QSize(474, 279));
        TRejestrGrid* g = f->DBGrid1();
        QCOMPARE(g->objectName(), QStringLiteral("DBGrid1"));
        QCOMPARE(g->accessibleDescription(), QStringLiteral("DBGrid1"));
        QCOMPARE(g->accessibleName(), QStringLiteral("Rejestr zdarzeń"));
        QCOMPARE(g->model()->rowCount(), 0);
        QStringList titles;
        for (int c = 0; c < g->model()->columnCount(); ++c)
            titles << g->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(titles, (QStringList{"Data", "Czas", "Zdarzenie", "Uwagi"}));
        QCOMPARE(g->columnWidth(1), 48);
        QCOMPARE(g->columnWidth(2), 345);
        QCOMPARE(g->columnWidth(3), 455);
        QVERIFY(g->horizontalHeader()->font().bold());

        m.Widok_Rejestr->trigger();
        QVERIFY(!m.Widok_Rejestr->isChecked());
        flushDeletes();
        QVERIFY(m.mdiArea()->subWindowList().isEmpty());
        QVERIFY(!form());
    }

    // Cells, alignment, what a screen reader hears, which column takes input,
    // and the last row current when the window opens.
    void rowsAndCells() {
        append({{7, "2024-03-10", "09:05", "Przełączenie na linię N2", "próba generatora"},
                {8, "2024-03-11", "17:40", "Zanik napięcia linii N1", ""}});
        startMain();
        TRejestrForm& f = openForm();
        QAbstractItemModel* m = f.DBGrid1()->model();
        QCOMPARE(m->rowCount(), 2);
        QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("2024-03-10"));
        QCOMPARE(m->index(0, 1).data().toString(), QStringLiteral("09:05"));
        QCOMPARE(m->index(0, 2).data().toString(), QStringLiteral("Przełączenie na linię N2"));
        QCOMPARE(m->index(0, 3).data().toString(), QStringLiteral("próba generatora"));
        QCOMPARE(m->index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(m->index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(m->index(0, 3).data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Uwagi: próba generatora"));
        QCOMPARE(m->index(1, 3).data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Uwagi: puste"));
        for (int c = 0; c < 4; ++c)
            QCOMPARE(bool(m->flags(m->index(0, c)) & Qt::ItemIsEditable), c == 3);
        QCOMPARE(f.DBGrid1()->currentIndex().row(), 1);

        // Typing into a column that refuses input changes nothing.
        f.DBGrid1()->setCurrentIndex(m->index(0, 2));
        QTest::keyClicks(f.DBGrid1(), QStringLiteral("x"));
        QVERIFY(!f.DBGrid1()->editing());
        QCOMPARE(m->index(0, 2).data().toString(), QStringLiteral("Przełączenie na linię N2"));
    }

    // ------------------------------------------------------------ remarks

    // A remark reaches the file on Enter, on leaving the row and on closing
    // the window; it is there when the window opens again.
    void remarkWrittenThrough() {
        appendDays(3);
        startMain();
        TRejestrForm* f = &openForm();
        typeRemark(*f, 0, QStringLiteral("wymiana bezpiecznika"));
        QTest::keyClick(f->DBGrid1()->indexWidget(f->DBGrid1()->currentIndex()), Qt::Key_Return);
        settle();
        QCOMPARE(storedRemark(0), QStringLiteral("wymiana bezpiecznika"));

        typeRemark(*f, 1, QStringLiteral("próba generatora"));
        QCOMPARE(storedRemark(1), QString());                   // still being typed
        f->DBGrid1()->setCurrentIndex(f->model()->index(2, 0)); // leaves the row
        QCOMPARE(storedRemark(1), QStringLiteral("próba generatora"));

        typeRemark(*f, 2, QStringLiteral("Żółć"));
        main_->Widok_Rejestr->trigger(); // closes the window while typing
        QVERIFY(!main_->Widok_Rejestr->isChecked());
        QCOMPARE(storedRemark(2), QStringLiteral("Żółć"));
        flushDeletes();

        f = &openForm();
        QCOMPARE(f->model()->index(0, 3).data().toString(), QStringLiteral("wymiana bezpiecznika"));
        QCOMPARE(f->model()->index(2, 3).data().toString(), QStringLiteral("Żółć"));
        // Closing the program while typing stores the remark before the table closes.
        typeRemark(*f, 1, QStringLiteral("po zamknięciu programu"));
        main_->close();
        QCOMPARE(storedRemark(1), QStringLiteral("po zamknięciu programu"));
        // Nothing else of the rows changed.
        TTable t(kTable);
        t.Open();
        QCOMPARE(t.RecordCount(), 3);
        QCOMPARE(t.stringValue(1, t.fieldIndex(QStringLiteral("ZDARZENIE"))),
                 QStringLiteral("Zanik napięcia linii N2"));
        QCOMPARE(t.stringValue(1, t.fieldIndex(QStringLiteral("N1_STATUS"))),
                 QStringLiteral("Linia Dobra"));
    }

    // A remark the field cannot hold is refused with a message that names the
    // problem; the text stays in the cell, the file keeps the old remark.
    void remarkRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("fixed");
        const QString long255 = QString(250, u'a') + QStringLiteral("ąęćźż");
        QTest::newRow("255 characters")
            << long255
            << QStringLiteral("uwaga ma 255 znaków, a pole mieści najwyżej 254; "
                              "skróć ją o 1 znak")
            << long255.left(254);
        QTest::newRow("outside Windows-1250")
            << QStringLiteral("próba → generatora") << QStringLiteral("znaku „→” (na pozycji 7)")
            << QStringLiteral("próba - generatora");
        QTest::newRow("emoji") << QStringLiteral("ok 😀") << QStringLiteral("znaku „😀”")
                               << QStringLiteral("ok");
    }
    void remarkRefused() {
        QFETCH(QString, text);
        QFETCH(QString, named);
        QFETCH(QString, fixed);
        append({{1, "2024-03-10", "09:05", "Zdarzenie", "stara uwaga"},
                {2, "2024-03-10", "09:06", "Zdarzenie", ""}});
        startMain();
        TRejestrForm& f = openForm();
        TRejestrGrid* g = f.DBGrid1();
        typeRemark(f, 0, QStringLiteral("x"));
        auto* editor = qobject_cast<QLineEdit*>(g->indexWidget(g->currentIndex()));
        QVERIFY(editor);
        editor->setText(text);
        g->setCurrentIndex(f.model()->index(1, 0)); // tries to leave the row
        settle();

        QCOMPARE(storedRemark(0), QStringLiteral("stara uwaga"));
        QVERIFY(f.message()->isVisible());
        QVERIFY2(f.message()->text().contains(named), qPrintable(f.message()->text()));
        QVERIFY(f.message()->text().startsWith(QStringLiteral("Uwagi nie zapisano")));
        // Back in the cell, the typed text in the editor, nothing cut.
        QCOMPARE(g->currentIndex(), f.model()->index(0, 3));
        QVERIFY(g->editing());
        editor = qobject_cast<QLineEdit*>(g->indexWidget(g->currentIndex()));
        QVERIFY(editor);
        QCOMPARE(editor->text(), text);
        QCOMPARE(f.model()->index(0, 3).data().toString(), text);

        // Closing the window would lose it: the window stays.
        main_->Widok_Rejestr->trigger();
        QVERIFY(main_->Widok_Rejestr->isChecked());

        editor = qobject_cast<QLineEdit*>(g->indexWidget(g->currentIndex()));
        QVERIFY(editor);
        editor->setText(fixed);
        QTest::keyClick(editor, Qt::Key_Enter);
        settle();
        QCOMPARE(storedRemark(0), fixed);
        QVERIFY(!f.message()->isVisible());
        QVERIFY(f.model()->unsavedRows().isEmpty());
    }

    // The remark written, the process killed with SIGKILL right after leaving
    // the row: the remark is in the file and in the window of the next run.
    void sigkillAfterLeavingRow() {
        appendDays(2);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TST_REJESTR_CHILD"), dir_->path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted(5000));
        QDeadlineTimer deadline(20000);
        while (!child.canReadLine() && !deadline.hasExpired() && child.state() == QProcess::Running)
            child.waitForReadyRead(100);
        QCOMPARE(child.readLine().trimmed(), QByteArray("left-row"));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        startMain();
        TRejestrForm& f = openForm();
        QCOMPARE(f.model()->index(0, 3).data().toString(),
                 QStringLiteral("wymiana bezpiecznika F2, łączówka"));
        QCOMPARE(storedRows(), 2);
    }

    // ------------------------------------------------------------ the download

    // Opened during a copy: the rows so far, then each row as it is copied,
    // the newest current. Then the user scrolls up to read and then types a
    // remark: new rows come in without moving the view, and the remark being
    // typed is in the file before the next row.
    void followsDownload() {
        TQTA504& m = startMain();
        SimProcess sim(dir_->filePath(QStringLiteral("qta")),
                       dir_->filePath(QStringLiteral("sim.log")),
                       {QStringLiteral("--events"), QStringLiteral("60"),
                        QStringLiteral("--period"), QStringLiteral("0")});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        TQTA504Core& core = m.core;
        core.downloadIntervalMs = 20;
        core.ComPort.setPort(sim.link());
        core.ComPort.Open();
        core.Flaga_Kom.OK = true;
        core.RS_Identyfikator();
        QTRY_VERIFY_WITH_TIMEOUT(core.Flaga_Kom.Id, 3000);
        core.Timer5.setInterval(1);
        core.armDownload();
        QTRY_VERIFY_WITH_TIMEOUT(core.Rejestr()->RecordCount() >= 5, 5000);

        TRejestrForm& f = openForm();
        const int atOpen = f.model()->rowCount();
        QVERIFY(atOpen >= 5 && atOpen < 60);
        QCOMPARE(f.DBGrid1()->currentIndex().row(), atOpen - 1);
        int seen = atOpen;
        bool followed = true;
        connect(f.model(), &QAbstractItemModel::rowsInserted, this, [&] {
            // Each row is in the grid the moment it has been stored, and current.
            seen = f.model()->rowCount();
            followed &= f.model()->rowCount() == core.Rejestr()->RecordCount();
        });
        QTRY_COMPARE_WITH_TIMEOUT(core.Rejestr()->RecordCount(), 60, 10000);
        settle();
        QCOMPARE(seen, 60);
        QVERIFY(followed);
        QCOMPARE(f.DBGrid1()->currentIndex().row(), 59);
        QCOMPARE(f.DBGrid1()->verticalScrollBar()->value(),
                 f.DBGrid1()->verticalScrollBar()->maximum());

        // Scrolled up to read: the next row is added below.
        f.DBGrid1()->setCurrentIndex(f.model()->index(3, 2));
        f.DBGrid1()->scrollToTop();
        QVERIFY(sim.commandTaken("add-event 1 0 0 0 0"));
        QTRY_COMPARE_WITH_TIMEOUT(f.model()->rowCount(), 61, 5000);
        QCOMPARE(f.DBGrid1()->currentIndex().row(), 3);
        QCOMPARE(f.DBGrid1()->verticalScrollBar()->value(), 0);

        // Typing a remark when the next row comes: the text is stored first,
        // the editor stays open on its row.
        typeRemark(f, 3, QStringLiteral("próba generatora"));
        QVERIFY(f.DBGrid1()->editing());
        int remarkBeforeAppend = -1;
        connect(&core, &TQTA504Core::eventRowAppended, this, [&] {
            if (remarkBeforeAppend < 0)
                remarkBeforeAppend = storedRemark(3) == QStringLiteral("próba generatora");
        });
        QVERIFY(sim.commandTaken("add-event 2 0 0 0 0"));
        QTRY_COMPARE_WITH_TIMEOUT(f.model()->rowCount(), 62, 5000);
        QCOMPARE(remarkBeforeAppend, 1);
        QVERIFY(f.DBGrid1()->editing());
        QCOMPARE(f.DBGrid1()->currentIndex(), f.model()->index(3, 3));
        auto* editor =
            qobject_cast<QLineEdit*>(f.DBGrid1()->indexWidget(f.DBGrid1()->currentIndex()));
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("próba generatora"));
        core.closeAll();
    }

    // ------------------------------------------------------------ export

    // The period's boundaries included, every field, quoting and Polish letters.
    void exportPeriod() {
        append({{1, "2024-03-09", "23:59", "przed", ""},
                {2, "2024-03-10", "00:00", "Zanik napięcia; linia \"N1\"", "wymiana bezpiecznika"},
                {3, "2024-03-11", "23:59", "Przełączenie", "Żółć\nźdźbło"},
                {4, "2024-03-12", "00:00", "po", ""}});
        TTable t(kTable);
        t.Open();
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QCOMPARE(exportTableCsv(t, out, {QDate(2024, 3, 10), QDate(2024, 3, 11)}), 2);
        const QByteArray csv = out.data();
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"
                               "INDEKS;DATA;CZAS;ZDARZENIE;UWAGI;N1_STATUS;"));
        const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 4); // header, two rows, nothing after the last CRLF
        QCOMPARE(lines[0].split(u';').size(), 28);
        QVERIFY(lines[1].startsWith(QStringLiteral(
            "2;2024-03-10;00:00;\"Zanik napięcia; linia \"\"N1\"\"\";wymiana bezpiecznika;"
            "Linia Dobra;")));
        QVERIFY(lines[2].startsWith(
            QStringLiteral("3;2024-03-11;23:59;Przełączenie;\"Żółć\nźdźbło\";")));
        QVERIFY(lines[2].endsWith(QStringLiteral(";N1 + N2 + N3")));
        QCOMPARE(lines[3], QString());

        // Open ends take everything on their side; a reversed period is refused.
        const auto rows = [&t](TExportPeriod p) {
            QBuffer b;
            b.open(QIODevice::WriteOnly);
            return exportTableCsv(t, b, p);
        };
        QCOMPARE(rows({}), 4);
        QCOMPARE(rows({QDate(2024, 3, 11), std::nullopt}), 2);
        QCOMPARE(rows({std::nullopt, QDate(2024, 3, 9)}), 1);
        QVERIFY_THROWS_EXCEPTION(ETable, rows({QDate(2024, 3, 12), QDate(2024, 3, 10)}));
    }

    // qta504-tables export: the same CSV for the event log; for the voltage
    // table the period applies to CZAS, written with milliseconds.
    void exportTool() {
        append(
            {{1, "2024-03-09", "23:59", "przed", ""}, {2, "2024-03-10", "00:00", "Łączenie", ""}});
        {
            TTable l(QStringLiteral("rejestr/linia.dbf"));
            l.Open();
            for (const QDateTime& at : {QDateTime(QDate(2024, 3, 9), QTime(23, 59, 59, 999)),
                                        QDateTime(QDate(2024, 3, 10), QTime(13, 45, 7, 250))}) {
                l.Append();
                l.FieldByName(QStringLiteral("CZAS")).setAsDateTime(at);
                l.FieldByName(QStringLiteral("N1L1")).setAsInteger(231);
                l.Post();
            }
        }
        const auto run = [](const QStringList& args, int& code) {
            QProcess p;
            p.start(qta::test::binPath(QStringLiteral("qta504-tables")),
                    QStringList{"export"} + args);
            p.waitForFinished(20000);
            code = p.exitCode();
            return code == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
        };
        int code = -1;
        const QByteArray rejestr = run({kTable, "--from", "2024-03-10"}, code);
        QCOMPARE(code, 0);
        TTable t(kTable);
        t.Open();
        QBuffer same;
        same.open(QIODevice::WriteOnly);
        exportTableCsv(t, same, {QDate(2024, 3, 10), std::nullopt});
        QCOMPARE(rejestr, same.data());
        QVERIFY(QString::fromUtf8(rejestr).contains(
            QStringLiteral("\r\n2;2024-03-10;00:00;Łączenie;")));

        const QByteArray linia =
            run({"rejestr/linia.dbf", "--from", "2024-03-10", "--to", "2024-03-10"}, code);
        QCOMPARE(code, 0);
        QCOMPARE(linia, QByteArray("\xEF\xBB\xBF"
                                   "CZAS;N1L1;N1L2;N1L3;N2L1;N2L2;N2L3;N3L1;N3L2;N3L3\r\n"
                                   "2024-03-10 13:45:07.250;231;;;;;;;;\r\n"));

        QVERIFY(run({kTable, "--from", "10.03.2024"}, code).contains("YYYY-MM-DD"));
        QCOMPARE(code, 2);
        QVERIFY(run({kTable, "--from", "2024-03-11", "--to", "2024-03-10"}, code)
                    .contains("Początek okresu"));
        QCOMPARE(code, 2);
        QVERIFY(run({"brak.dbf"}, code).contains("brak.dbf"));
        QCOMPARE(code, 2);
    }

    // The dialog from the window's context menu: the chosen period into the
    // chosen file; a reversed period or an unwritable file says so and
    // writes nothing.
    void exportDialog() {
        appendDays(5); // 2024-01-01 .. 2024-01-05
        startMain();
        TRejestrForm& f = openForm();
        QVERIFY(f.DBGrid1()->actions().contains(f.exportAction()));
        QCOMPARE(f.exportAction()->text(), QStringLiteral("Eksportuj do CSV…"));
        // The dialog deletes itself once it closes.
        QPointer<TEksportDialog> d = f.openExportDialog();
        QVERIFY(d->isVisible());
        QCOMPARE(d->fromDate()->date(), QDate(2024, 1, 1));
        QCOMPARE(d->toDate()->date(), QDate(2024, 1, 5));

        d->fromCheck()->setChecked(true);
        d->toCheck()->setChecked(true);
        d->fromDate()->setDate(QDate(2024, 1, 4));
        d->toDate()->setDate(QDate(2024, 1, 2));
        const QString file = dir_->filePath(QStringLiteral("okres.csv"));
        d->fileEdit()->setText(file);
        d->okButton()->click();
        QVERIFY(d->isVisible());
        QVERIFY(d->errorLabel()->text().contains(QStringLiteral("Początek okresu (2024-01-04)")));
        QVERIFY(!QFile::exists(file));

        d->fileEdit()->setText(dir_->filePath(QStringLiteral("brak/okres.csv")));
        d->toDate()->setDate(QDate(2024, 1, 4));
        d->okButton()->click();
        QTRY_VERIFY(d->errorLabel()->isVisible()); // the export runs on a worker
        QVERIFY(d->isVisible());
        QVERIFY(d->errorLabel()->text().contains(QStringLiteral("brak/okres.csv")));

        d->fileEdit()->setText(file);
        d->fromDate()->setDate(QDate(2024, 1, 2));
        d->okButton()->click();
        QTRY_VERIFY(!d || !d->isVisible());
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // header, 2024-01-02 .. 2024-01-04, empty after the last
        QVERIFY(lines[1].startsWith("1;2024-01-02;"));
        QVERIFY(lines[3].startsWith("3;2024-01-04;"));
        QVERIFY(f.message()->text().contains(file));
    }

    // A typed name of an existing file is replaced only when the user says
    // so; an export stopped with "Anuluj" leaves the older file as it was.
    void exportAsksAndStops() {
        QList<Ev> many;
        for (int i = 0; i < 20000; ++i)
            many << Ev{i % 500, QStringLiteral("2024-02-01"), QStringLiteral("12:00"),
                       QStringLiteral("Zanik napięcia linii N1"), QString()};
        append(many, kTable, false);
        startMain();
        TRejestrForm& f = openForm();
        const QString file = dir_->filePath(QStringLiteral("stary.csv"));
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("stary plik\n");
        old.close();
        const auto answer = [](QMessageBox::StandardButton which) {
            QTimer::singleShot(0, [which] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box && box->objectName() == u"ZastapPlik");
                QVERIFY(box->text().contains(QStringLiteral("już istnieje")));
                box->button(which)->click();
            });
        };
        const auto content = [&file] {
            QFile in(file);
            return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
        };

        QPointer<TEksportDialog> d = f.openExportDialog();
        d->fileEdit()->setText(file);
        answer(QMessageBox::No);
        d->okButton()->click();
        QVERIFY(!d->job());
        QVERIFY(d->isVisible());
        QCOMPARE(content(), QByteArray("stary plik\n"));

        answer(QMessageBox::Yes);
        d->okButton()->click();
        QVERIFY(d->job());
        d->job()->stop(); // "Anuluj" of the progress dialog
        QTRY_VERIFY(!d->job());
        QVERIFY(d->isVisible());
        QVERIFY(d->errorLabel()->text().contains(QStringLiteral("przerwano")));
        QCOMPARE(content(), QByteArray("stary plik\n"));
        QCOMPARE(QDir(dir_->path()).entryList({QStringLiteral("stary.csv*")}, QDir::Files),
                 QStringList{"stary.csv"}); // no temporary file left

        answer(QMessageBox::Yes);
        d->okButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d || !d->isVisible(), 10000);
        QCOMPARE(content().count('\n'), 20001);
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QTA-504"));
    if (qEnvironmentVariableIsSet("TST_REJESTR_CHILD"))
        return childMain(qEnvironmentVariable("TST_REJESTR_CHILD"));
    TestRejestr test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rejestr.moc"
