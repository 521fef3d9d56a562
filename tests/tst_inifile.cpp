// The settings-file reader every settings file goes through: what it reads,
// and what it says about a file it cannot use.
#include "tables/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace qta;

class TstIniFile : public QObject {
    Q_OBJECT
private slots:
    void read_data() {
        // "where": "file" writes `bytes` to a file; "none" no file; "dir" a
        // folder in its place; "through file" a path going through a plain
        // file; "no access" a file with mode 000; anything else is a system
        // path used as it is.
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("value"); // of [s] k=; null when absent
        QTest::addColumn<bool>("signature");

        const QByteArray none;
        QTest::newRow("good file")
            << "file" << QByteArray("; c\n[s]\nk = v 1\n[t]\nk=2\n") << int(TIniFile::Read)
            << QString() << QByteArray("v 1") << false;
        QTest::newRow("UTF-8 signature")
            << "file" << QByteArray("\xEF\xBB\xBF[s]\nk=zażółć\n") << int(TIniFile::Read)
            << QString() << QStringLiteral("zażółć").toUtf8() << true;
        // A file written in the old 8-bit code page: the bytes come back as
        // they were (a rewrite keeps them), nothing is refused.
        QTest::newRow("8-bit bytes pass through")
            << "file" << QByteArray("[s]\nk=\xB3\xF3\x64\xBC\n") << int(TIniFile::Read) << QString()
            << QByteArray("\xB3\xF3\x64\xBC") << false;
        QTest::newRow("empty file")
            << "file" << QByteArray() << int(TIniFile::Read) << QString() << none << false;
        QTest::newRow("zero byte")
            << "file" << QByteArray("[s]\nk=v\0\n[t]\nm=1\n", 17) << int(TIniFile::Failed)
            << QStringLiteral("plik zawiera bajt zerowy") << none << false;
        QTest::newRow("no file") << "none" << QByteArray() << int(TIniFile::Missing)
                                 << QStringLiteral("brak pliku") << none << false;
        QTest::newRow("path through a plain file")
            << "through file" << QByteArray() << int(TIniFile::Missing)
            << QStringLiteral("brak pliku") << none << false;
        QTest::newRow("folder in its place")
            << "dir" << QByteArray() << int(TIniFile::Failed)
            << QStringLiteral("to folder, a nie plik") << none << false;
        QTest::newRow("no read permission")
            << "no access" << QByteArray("[s]\nk=v\n") << int(TIniFile::Failed)
            << QStringLiteral("brak dostępu") << none << false;
#ifdef Q_OS_LINUX
        // Opens, then every read fails (EIO), also for root.
        QTest::newRow("read fails") << "/proc/self/mem" << QByteArray() << int(TIniFile::Failed)
                                    << QStringLiteral("błąd odczytu z nośnika") << none << false;
#endif
        // A device given by mistake: reading stops instead of filling memory.
        QTest::newRow("endless device")
            << "/dev/zero" << QByteArray() << int(TIniFile::Failed)
            << QStringLiteral("plik ma ponad 16 MB, to nie są ustawienia") << none << false;
    }
    void read() {
        QFETCH(QString, where);
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QFETCH(QByteArray, value);
        QFETCH(bool, signature);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString path = dir.filePath(QStringLiteral("ustawienia.ini"));
        const auto write = [](const QString& p, const QByteArray& b) {
            QFile f(p);
            return f.open(QIODevice::WriteOnly) && f.write(b) == b.size() && f.flush();
        };
        if (where == u"file") {
            QVERIFY(write(path, bytes));
        } else if (where == u"dir") {
            QVERIFY(QDir().mkpath(path));
        } else if (where == u"through file") {
            QVERIFY(write(path, bytes));
            path += QStringLiteral("/inny.ini");
        } else if (where == u"no access") {
            if (::geteuid() == 0)
                QSKIP("root reads a file whatever its mode");
            QVERIFY(write(path, bytes));
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        } else if (where != u"none") {
            path = where;
        }

        CSimpleIniA ini;
        ini.LoadData("[old]\nk=1\n"); // whatever it held before goes
        const TIniFile r = readIniFile(path, ini);
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.ok(), status == TIniFile::Read);
        QCOMPARE(r.reason, reason);
        QCOMPARE(r.error, status == TIniFile::Read      ? QString()
                          : status == TIniFile::Missing ? QStringLiteral("brak pliku %1").arg(path)
                                                        : QStringLiteral("nie można odczytać "
                                                                         "pliku %1: %2")
                                                              .arg(path, reason));
        QCOMPARE(r.signature, signature);
        QCOMPARE(ini.GetSectionSize("old"), -1);
        const char* v = ini.GetValue("s", "k", nullptr);
        QCOMPARE(v ? QByteArray(v) : QByteArray(), value);
        if (r.ok()) {
            // What a rewrite starts from: the file's bytes without the signature.
            QCOMPARE(r.text, signature ? bytes.mid(3) : bytes);
            QCOMPARE(ini.GetValue("t", "k", nullptr) != nullptr, bytes.contains("[t]"));
        } else {
            QVERIFY(r.text.isEmpty());
            QVERIFY(ini.IsEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TstIniFile)
#include "tst_inifile.moc"
