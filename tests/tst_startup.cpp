// The command line and the choice and preparation of the working folder.
#include "app/startup.h"
#include "core/workfolder.h"
#include "tables/table.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qta;
using Action = TStartOptions::Action;

Q_DECLARE_METATYPE(TStartOptions::Action)

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QStringList filesUnder(const QString& root) {
    QStringList out;
    const QDir dir(root);
    for (const QString& f : dir.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot))
        out << f;
    return out;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> tmp_;
    QString at(const QString& rel) const { return tmp_->filePath(rel); }
    QProcessEnvironment envWith(const QString& xdg, const QString& home) const {
        QProcessEnvironment env;
        if (!xdg.isNull())
            env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
        env.insert(QStringLiteral("HOME"), home);
        return env;
    }

private Q_SLOTS:
    void init() {
        tmp_ = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp_->isValid());
    }
    void cleanup() { tmp_.reset(); }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<bool>("demoPanel");
        QTest::addColumn<QString>("textHas");
        const auto row = [](const char* name, QStringList args, Action a, const char* dir,
                            bool demo, const char* text) {
            args.prepend(QStringLiteral("qta504"));
            QTest::newRow(name) << args << a << QString::fromUtf8(dir) << demo
                                << QString::fromUtf8(text);
        };
        row("none", {}, Action::Run, "", false, "");
        row("help", {"--help"}, Action::Help, "", false, "--work-dir");
        row("help lists demo panel", {"-h"}, Action::Help, "", false,
            "pokazuje pozycję menu Demo (panel demonstracyjny)");
        row("help beside a bad option", {"--bogus", "--help"}, Action::Help, "", false, "--help");
        row("version", {"--version"}, Action::Version, "", false, "qta504 1.");
        row("work dir", {"--work-dir", "/srv/szr"}, Action::Run, "/srv/szr", false, "");
        row("work dir short, =", {"-d=x"}, Action::Run, "x", false, "");
        row("demo panel", {"--demo-panel", "-d", "y"}, Action::Run, "y", true, "");
        row("unknown option", {"--bogus"}, Action::Error, "", false, "bogus");
        row("work dir without value", {"--work-dir"}, Action::Error, "", false, "work-dir");
        row("empty work dir", {"--work-dir="}, Action::Error, "", false, "--work-dir");
        row("stray argument", {"/srv/szr"}, Action::Error, "", false, "/srv/szr");
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(Action, action);
        QFETCH(QString, workDir);
        QFETCH(bool, demoPanel);
        QFETCH(QString, textHas);
        const TStartOptions o = parseStartOptions(args);
        QCOMPARE(o.action, action);
        QCOMPARE(o.workDir, workDir);
        QCOMPARE(o.demoPanel, demoPanel);
        QVERIFY2(o.text.contains(textHas), qPrintable(o.text));
    }

    void dataFolderLocation_data() {
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("expected");
        QTest::newRow("XDG_DATA_HOME") << "/x/data"
                                       << "/x/data/qta504";
        QTest::newRow("unset") << QString() << "/home/t/.local/share/qta504";
        QTest::newRow("empty") << ""
                               << "/home/t/.local/share/qta504";
        QTest::newRow("relative is ignored") << "data"
                                             << "/home/t/.local/share/qta504";
    }
    void dataFolderLocation() {
        QFETCH(QString, xdg);
        QFETCH(QString, expected);
        QCOMPARE(dataFolder(envWith(xdg, QStringLiteral("/home/t"))), expected);
    }

    // First start from the desktop menu: the data folder is made with both
    // empty tables and the settings file, and said once.
    void firstStartMakesDataFolder() {
        QVERIFY(QDir().mkpath(at("cwd")));
        const auto env = envWith(QString(), at("home"));
        const TWorkFolder f = chooseWorkFolder({}, at("cwd"), env);
        const QString folder = at("home/.local/share/qta504");
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(f.path, folder);
        QVERIFY2(f.notice.contains(QStringLiteral("Pierwsze uruchomienie")) &&
                     f.notice.contains(folder),
                 qPrintable(f.notice));
        QCOMPARE(filesUnder(folder + QStringLiteral("/rejestr")),
                 (QStringList{"alarmy.dbf", "linia.dbf", "rejestr.dbf", "ustawienia.ini"}));
        QVERIFY(filesUnder(at("cwd")).isEmpty()); // nothing left where it was started

        for (const char* name : {"rejestr.dbf", "linia.dbf"}) {
            TTable t(folder + QStringLiteral("/rejestr/") + QLatin1String(name));
            t.Open();
            QCOMPARE(t.RecordCount(), 0);
            QCOMPARE(t.codePage(), QStringLiteral("CP1250"));
        }
        QVERIFY(readAll(folder + QStringLiteral("/rejestr/ustawienia.ini"))
                    .startsWith("[ComPort]\nPort=\nBaudRate=38400\n"));

        // The next start finds it ready: nothing is made or said again, and
        // what the user changed stays.
        QVERIFY(writeFile(folder + QStringLiteral("/rejestr/ustawienia.ini"),
                          "[ComPort]\nPort=/dev/serial/by-id/usb-x\n"));
        const TWorkFolder again = chooseWorkFolder({}, at("cwd"), env);
        QCOMPARE(again.path, folder);
        QVERIFY2(again.notice.isEmpty(), qPrintable(again.notice));
        QCOMPARE(readAll(folder + QStringLiteral("/rejestr/ustawienia.ini")),
                 QByteArray("[ComPort]\nPort=/dev/serial/by-id/usb-x\n"));
    }

    // Started where rejestr/ already is, the program works there as it always
    // has: nothing is created, whatever is missing.
    void existingFolderUsedAsIs() {
        QVERIFY(QDir().mkpath(at("old/rejestr")));
        const TWorkFolder f = chooseWorkFolder({}, at("old"), envWith({}, at("home")));
        QCOMPARE(f.path, at("old"));
        QVERIFY(f.notice.isEmpty() && f.error.isEmpty());
        QVERIFY(filesUnder(at("old/rejestr")).isEmpty());
        QVERIFY(!QFile::exists(at("home")));
    }

    void explicitFolder() {
        const auto env = envWith({}, at("home"));
        // Relative to where it was started; prepared when it has no rejestr/.
        QVERIFY(QDir().mkpath(at("cwd/site")));
        TWorkFolder f = chooseWorkFolder(QStringLiteral("site"), at("cwd"), env);
        QCOMPARE(f.path, at("cwd/site"));
        QVERIFY(!f.notice.isEmpty());
        QCOMPARE(filesUnder(at("cwd/site/rejestr")).size(), 4);
        // Even when the folder started in has rejestr/ of its own.
        QVERIFY(QDir().mkpath(at("cwd/rejestr")));
        f = chooseWorkFolder(at("cwd/site"), at("cwd"), env);
        QCOMPARE(f.path, at("cwd/site"));
        QVERIFY(f.notice.isEmpty());

        // A folder that does not exist is an error, not a new empty history.
        f = chooseWorkFolder(QStringLiteral("sitte"), at("cwd"), env);
        QVERIFY(f.path.isEmpty());
        QVERIFY2(f.error.contains(QStringLiteral("nie istnieje")) &&
                     f.error.contains(at("cwd/sitte")),
                 qPrintable(f.error));
        QVERIFY(!QFile::exists(at("cwd/sitte")));
        QVERIFY(!QFile::exists(at("home")));
    }

    // A data folder that lost one table keeps the other and gets no fresh
    // empty one beside it: the program then names the missing table.
    void oneTableLeft() {
        const QString folder = at("data/qta504");
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/rejestr")));
        TTable::createLinia(folder + QStringLiteral("/rejestr/linia.dbf"));
        const TWorkFolder f = chooseWorkFolder({}, at("."), envWith(at("data"), at("home")));
        QCOMPARE(f.path, folder);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/rejestr/rejestr.dbf")));
        QVERIFY2(f.notice.contains(QStringLiteral("plik ustawień")), qPrintable(f.notice));
    }

    void dataFolderCannotBeMade() {
        QVERIFY(writeFile(at("file"), "x"));
        const TWorkFolder f = chooseWorkFolder({}, at("."), envWith(at("file"), at("home")));
        QVERIFY(f.path.isEmpty());
        QVERIFY2(f.error.contains(at("file/qta504")), qPrintable(f.error));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
