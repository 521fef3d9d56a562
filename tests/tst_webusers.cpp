// The site console's users and activity log without a server: Argon2id
// hashes (right, wrong, weaker parameters, malformed strings), the users
// file (its lines as a table, its permissions, an atomic rewrite that keeps
// mode, group, comments and unreadable lines), the users the collector signs
// in, `qta504d --user` run as a process with the password on standard input,
// and the activity log (records, a torn last line, paging, CSV).
#include "testpaths.h"
#include "web/activitylog.h"
#include "web/passwordhash.h"
#include "web/users.h"
#include "web/userstore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <argon2.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qta::web;

namespace {

const QString kPassword = QStringLiteral("Zażółć-gęślą 1");

void writeFile(const QString& path, const QByteArray& text, mode_t mode = 0600) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(text), text.size());
    f.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A hash made directly by the library with the given parameters and version.
QByteArray libraryHash(const QString& password, uint32_t m, uint32_t t, uint32_t version) {
    const QByteArray pwd = password.toUtf8();
    const QByteArray salt("0123456789abcdef");
    QByteArray out(256, '\0');
    if (argon2_hash(t, m, 1, pwd.constData(), size_t(pwd.size()), salt.constData(),
                    size_t(salt.size()), nullptr, 32, out.data(), size_t(out.size()), Argon2_id,
                    version) != ARGON2_OK)
        return {};
    return out.left(qsizetype(qstrlen(out.constData())));
}

TActivityRecord record(int i, const QString& details = QStringLiteral("rekord")) {
    return {QDateTime(QDate(2026, 3, 1), QTime(12, 0)).addSecs(i),
            QStringLiteral("jan"),
            QStringLiteral("192.0.2.%1").arg(i % 250),
            QStringLiteral("potwierdzenie alarmu"),
            QStringLiteral("N1-szpital: awaria7"),
            kSuccess,
            details};
}

} // namespace

class TstWebUsers : public QObject {
    Q_OBJECT
    QByteArray hash_; // of kPassword, made once (each hash takes some 50 ms)
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        std::signal(SIGXFSZ, SIG_IGN);
        hash_ = hashPassword(kPassword);
        QVERIFY(!hash_.isEmpty());
    }
    void init() { dir_ = std::make_unique<QTemporaryDir>(); }

    // ------------------------------------------------------------ hashes

    void verify_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("match");
        QTest::addColumn<bool>("malformed");
        QTest::addColumn<bool>("rehash");
        const QByteArray h = hashPassword(kPassword);
        const QByteArray weak = libraryHash(kPassword, 4096, 1, ARGON2_VERSION_13);
        const QByteArray old = libraryHash(kPassword, 19456, 2, ARGON2_VERSION_10);
        QByteArray tampered = h;
        tampered[tampered.size() - 2] = tampered.at(tampered.size() - 2) == 'A' ? 'B' : 'A';
        QTest::newRow("right") << h << kPassword << true << false << false;
        QTest::newRow("wrong") << h << QStringLiteral("zażółć-gęślą 1") << false << false << false;
        QTest::newRow("same text, decomposed letters")
            << h << kPassword.normalized(QString::NormalizationForm_D) << true << false << false;
        QTest::newRow("weaker parameters") << weak << kPassword << true << false << true;
        QTest::newRow("weaker parameters, wrong")
            << weak << QStringLiteral("inne hasło") << false << false << false;
        QTest::newRow("older version") << old << kPassword << true << false << true;
        QTest::newRow("hash changed") << tampered << kPassword << false << false << false;
        QTest::newRow("argon2i") << QByteArray(h).replace("$argon2id$", "$argon2i$") << kPassword
                                 << false << true << false;
        QTest::newRow("empty") << QByteArray() << QString() << false << true << false;
        QTest::newRow("plain text")
            << QByteArray("haslo1234") << QStringLiteral("haslo1234") << false << true << false;
        QTest::newRow("memory past 1 GiB")
            << QByteArray(h).replace("m=19456", "m=2097152") << kPassword << false << true << false;
        QTest::newRow("no salt") << QByteArray("$argon2id$v=19$m=19456,t=2,p=1$$AAAAAAAAAAA")
                                 << kPassword << false << true << false;
        QTest::newRow("not base64") << QByteArray(h).replace(h.lastIndexOf('$') + 1, 1, "*")
                                    << kPassword << false << true << false;
        QTest::newRow("a field more") << h + "$AAAA" << kPassword << false << true << false;
    }
    void verify() {
        QFETCH(QByteArray, encoded);
        QFETCH(QString, password);
        QFETCH(bool, match);
        QFETCH(bool, malformed);
        QFETCH(bool, rehash);
        const TVerifyResult r = verifyPassword(password, encoded);
        QCOMPARE(r.match, match);
        QCOMPARE(r.malformed, malformed);
        QCOMPARE(r.needsRehash, rehash);
    }

    void hashesAreSaltedWithTheBaseline() {
        const QByteArray again = hashPassword(kPassword);
        QVERIFY(again != hash_); // a new salt every time
        QVERIFY(hash_.startsWith("$argon2id$v=19$m=19456,t=2,p=1$"));
        TArgon2Params p;
        QVERIFY(parseEncodedHash(again, &p));
        QCOMPARE(p, kArgon2Params);
        QVERIFY(!hash_.contains(':'));
    }

    // ------------------------------------------------------------ users file

    void usersFileLines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("users");    // name:role, in file order
        QTest::addColumn<QString>("badLines"); // the line numbers named
        const QByteArray h = hashPassword(kPassword);
        QTest::newRow("comments, blanks, CRLF")
            << "# konsola\n\njan:operator:" + h + "\r\n  # wcięty\newa:viewer:" + h + "\n"
            << "jan:operator,ewa:viewer"
            << "";
        QTest::newRow("no final line end") << "jan:admin:" + h << "jan:admin"
                                           << "";
        QTest::newRow("field missing, field more")
            << "jan:operator\newa:viewer:" + h + ":x\nola:admin:" + h + "\n"
            << "ola:admin"
            << "1,2";
        QTest::newRow("unknown role") << "jan:root:" + h + "\newa:Viewer:" + h + "\n"
                                      << ""
                                      << "1,2";
        QTest::newRow("bad names")
            << "j an:viewer:" + h + "\n-jan:viewer:" + h + "\n:viewer:" + h + "\n" +
                   QByteArray(33, 'a') + ":viewer:" + h + "\nłucja.k_2-b:viewer:" + h + "\n"
            << "łucja.k_2-b:viewer"
            << "1,2,3,4";
        QTest::newRow("malformed hash")
            << "jan:viewer:haslo1234\newa:viewer:$argon2i$v=19$m=19456,t=2,p=1$c2FsdHNhbHQ$"
               "aGFzaGhhc2g\nola:viewer:" +
                   h + "\n"
            << "ola:viewer"
            << "1,2";
        QTest::newRow("same name twice, also in other case")
            << "jan:viewer:" + h + "\njan:admin:" + h + "\nJAN:admin:" + h + "\n"
            << "jan:viewer"
            << "2,3";
        QTest::newRow("not UTF-8") << "jan:viewer:" + h + "\n\xb3ucja:viewer:" + h + "\n"
                                   << "jan:viewer"
                                   << "2";
    }
    void usersFileLines() {
        QFETCH(QByteArray, text);
        QFETCH(QString, users);
        QFETCH(QString, badLines);
        writeFile(path("users"), text);
        const TUsersFile f = TUsersFile::read(path("users"));
        QCOMPARE(int(f.status()), int(TUsersFile::Status::Read));
        QStringList read;
        for (const TUser& u : f.users())
            read << u.name + u':' + roleKeyword(u.role);
        QCOMPARE(read.join(u','), users);
        QStringList bad;
        for (const QString& e : f.lineErrors()) {
            QVERIFY2(e.startsWith(QStringLiteral("plik %1, wiersz ").arg(path("users"))),
                     qPrintable(e));
            bad << e.section(QStringLiteral("wiersz "), 1).section(u':', 0, 0);
        }
        QCOMPARE(bad.join(u','), badLines);
    }

    void usersFilePermissions_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("used");
        QTest::newRow("0600") << 0600 << true;
        QTest::newRow("0640") << 0640 << true;
        QTest::newRow("0400") << 0400 << true;
        QTest::newRow("0660 group may write") << 0660 << false;
        QTest::newRow("0644 others may read") << 0644 << false;
        QTest::newRow("0602 others may write") << 0602 << false;
        QTest::newRow("0666") << 0666 << false;
    }
    void usersFilePermissions() {
        QFETCH(int, mode);
        QFETCH(bool, used);
        writeFile(path("users"), "jan:viewer:" + hash_ + "\n", mode_t(mode));
        const TUsersFile f = TUsersFile::read(path("users"));
        QCOMPARE(f.status() == TUsersFile::Status::Read, used);
        if (f.status() == TUsersFile::Status::Refused) {
            QVERIFY(f.users().isEmpty());
            QVERIFY2(f.error().contains(QStringLiteral("chmod 640 ") + path("users")),
                     qPrintable(f.error()));
        }
    }

    void usersFileOfAnotherOwnerOrMissing() {
        QCOMPARE(int(TUsersFile::read(path("none")).status()), int(TUsersFile::Status::Missing));
        QVERIFY(QDir().mkdir(path("users")));
        QCOMPARE(int(TUsersFile::read(path("users")).status()), int(TUsersFile::Status::Refused));
        if (::geteuid() != 0)
            QSKIP("changing a file's owner needs root");
        writeFile(path("other"), "jan:viewer:" + hash_ + "\n", 0640);
        QCOMPARE(::chown(QFile::encodeName(path("other")).constData(), 4321, 4321), 0);
        const TUsersFile f = TUsersFile::read(path("other"));
        QCOMPARE(int(f.status()), int(TUsersFile::Status::Refused));
        QVERIFY2(f.error().contains(QStringLiteral("uid 4321")), qPrintable(f.error()));
    }

    // The file is replaced whole, keeping what the administrator wrote by hand.
    void rewriteKeepsModeGroupAndForeignLines() {
        const QByteArray kept = "# konsola obiektu\n\nzepsuty wiersz\n";
        writeFile(path("users"), kept + "jan:viewer:" + hash_ + "\n", 0640);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(path("users")).constData(), 0, 4321), 0);
        const struct stat before = statOf(path("users"));

        TUsersFile f = TUsersFile::read(path("users"));
        QCOMPARE(f.lineErrors().size(), 1);
        QVERIFY(f.add({QStringLiteral("ewa"), Role::Operator, hash_}).isEmpty());
        QCOMPARE(f.add({QStringLiteral("Ewa"), Role::Viewer, hash_}),
                 QStringLiteral("użytkownik ewa już istnieje"));
        QVERIFY(f.setRole(QStringLiteral("jan"), Role::Admin).isEmpty());
        QCOMPARE(f.write(), QString());

        const struct stat after = statOf(path("users"));
        QVERIFY(after.st_ino != before.st_ino); // a new file under the name
        QCOMPARE(after.st_mode & 07777, before.st_mode & 07777);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(readFile(path("users")),
                 kept + "jan:admin:" + hash_ + "\newa:operator:" + hash_ + "\n");
        QVERIFY(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).size() == 1);

        // Made new: 0640 by root (the service's group reads it), 0600 by others.
        TUsersFile fresh = TUsersFile::read(path("new"));
        QVERIFY(fresh.add({QStringLiteral("ola"), Role::Viewer, hash_}).isEmpty());
        QCOMPARE(fresh.write(), QString());
        QCOMPARE(int(statOf(path("new")).st_mode & 07777), root ? 0640 : 0600);
        QCOMPARE(int(TUsersFile::read(path("new")).status()), int(TUsersFile::Status::Read));
    }

    // What the server asks: a sign-in, a user's role and generation, a reload.
    void userStore() {
        writeFile(path("users"), "jan:operator:" + hash_ + "\n", 0640);
        TUserStore store(path("users"));
        QVERIFY(store.reload().isEmpty());
        const TSignIn in = store.verify(QStringLiteral("jan"), kPassword);
        QVERIFY(in.ok && !in.needsRehash);
        QCOMPARE(int(in.role), int(Role::Operator));
        QCOMPARE(in.generation, store.generation(QStringLiteral("jan")));
        QVERIFY(!store.verify(QStringLiteral("jan"), QStringLiteral("zle-haslo")).ok);
        QVERIFY(!store.verify(QStringLiteral("nikt"), kPassword).ok);

        // A new password or another role gives another generation; a removed
        // user none.
        const QByteArray g1 = store.generation(QStringLiteral("jan"));
        writeFile(path("users"), "jan:operator:" + hashPassword(kPassword) + "\n", 0640);
        store.reload();
        const QByteArray g2 = store.generation(QStringLiteral("jan"));
        QVERIFY(g2 != g1);
        writeFile(path("users"), "jan:admin:" + hash_ + "\nola:viewer:" + hash_ + "\n", 0640);
        store.reload();
        QVERIFY(store.generation(QStringLiteral("jan")) != g1);
        QVERIFY(store.generation(QStringLiteral("jan")) != g2);

        // A file that cannot be used keeps the users read before; a missing
        // one leaves none.
        QCOMPARE(::chmod(QFile::encodeName(path("users")).constData(), 0666), 0);
        const QStringList refused = store.reload();
        QCOMPARE(refused.size(), 1);
        QVERIFY(refused.first().contains(QStringLiteral("użytkownicy bez zmian")));
        QCOMPARE(store.users().size(), 2);
        QVERIFY(QFile::remove(path("users")));
        QVERIFY(store.reload().join(u'\n').contains(QStringLiteral("qta504d --user add")));
        QVERIFY(store.empty());
        QVERIFY(!store.role(QStringLiteral("jan")));
        QVERIFY(store.generation(QStringLiteral("jan")).isEmpty());
    }

    // ------------------------------------------------------------ the command

    void userCommand() {
        writeFile(path("collector.ini"), "[collector]\nDataRoot=dane\n[N1]\nPort=/dev/null\n");
        QVERIFY(QDir().mkdir(path("dane")));
        struct Step {
            QStringList args;
            QByteArray input;
            int exit;
            QString said; // a part of its standard output (exit 0) or error
        };
        const QByteArray first = "Pierwsze-hasło1";
        const QByteArray second = "Drugie-hasło2";
        const QByteArray ewas = "Hasło Ewy 123";
        const QList<Step> steps = {
            {{"add", "jan", "--role", "operator"}, first + "\n", 0, "dodano użytkownika jan"},
            {{"add", "Jan", "--role", "viewer"}, first + "\n", 2, "użytkownik jan już istnieje"},
            {{"add", "ewa", "--role", "root"}, ewas + "\n", 2, "nieznana rola root"},
            {{"add", "ewa"}, "krotkie\n", 2, "co najmniej 8 znaków"},
            {{"add", "ewa"}, "", 2, "nie podano hasła"},
            {{"add", "e:wa"}, ewas + "\n", 2, "niedozwolony znak „:”"},
            {{"add", "ewa"}, ewas + "\r\nreszta\n", 0, "rola viewer (podgląd)"},
            {{"list"}, {}, 0, "jan\toperator\newa\tviewer (podgląd)\n"},
            {{"passwd", "jan"}, second + "\n", 0, "zmieniono hasło użytkownika jan"},
            {{"passwd", "ola"}, second + "\n", 2, "nie ma użytkownika ola"},
            {{"role", "ewa", "--role", "admin"}, {}, 0, "viewer (podgląd) → admin"},
            {{"del", "ewa"}, {}, 0, "usunięto użytkownika ewa"},
            {{"del", "ewa"}, {}, 2, "nie ma użytkownika ewa"},
            {{"list"}, {}, 0, "jan\toperator\n"},
        };
        QByteArray everything; // all the command said
        for (const Step& s : steps) {
            QProcess p;
            p.start(qta::test::binPath(QStringLiteral("qta504d")),
                    QStringList{"--config", path("collector.ini"), "--user"} + s.args);
            QVERIFY(p.waitForStarted(5000));
            p.write(s.input);
            p.closeWriteChannel();
            QVERIFY(p.waitForFinished(10000));
            const QByteArray out = p.readAllStandardOutput();
            const QByteArray err = p.readAllStandardError();
            everything += out + err;
            const QString what =
                s.args.join(u' ') + QStringLiteral(": ") + QString::fromUtf8(out + err);
            QVERIFY2(p.exitCode() == s.exit, qPrintable(what));
            QVERIFY2(QString::fromUtf8(s.exit == 0 ? out : err).contains(s.said), qPrintable(what));
        }

        const TUsersFile users = TUsersFile::read(path("users"));
        QCOMPARE(users.users().size(), 1);
        const TUser* jan = users.find(QStringLiteral("jan"));
        QVERIFY(jan);
        QVERIFY(verifyPassword(QString::fromUtf8(second), jan->hash).match);
        QVERIFY(!verifyPassword(QString::fromUtf8(first), jan->hash).match);

        const QString logPath = path("dane/aktywnosc.jsonl");
        const TActivityLog::TPage log = TActivityLog(logPath).readPage(0, 100);
        QVERIFY(log.problems.isEmpty());
        QStringList done;
        for (const TActivityRecord& r : log.records) {
            QCOMPARE(r.address, kCommandLine);
            QCOMPARE(r.result, kSuccess);
            QVERIFY(!r.user.isEmpty());
            done.prepend(r.action + u' ' + r.object);
        }
        QCOMPARE(done,
                 (QStringList{"dodanie użytkownika jan", "dodanie użytkownika ewa",
                              "zmiana hasła jan", "zmiana roli ewa", "usunięcie użytkownika ewa"}));
        QCOMPARE(int(statOf(logPath).st_mode & 0777), 0600);
        for (const QByteArray& secret : {first, second, ewas})
            for (const QByteArray& where : {readFile(path("users")), readFile(logPath), everything})
                QVERIFY(!where.contains(secret));
    }

    // ------------------------------------------------------------ activity log

    void activityRecords() {
        const TActivityLog log(path("aktywnosc.jsonl"));
        const QString hostile = QStringLiteral("uwaga\n{\"time\":\"x\"}\r\n\"; DROP");
        QCOMPARE(log.append(record(1)), QString());
        QCOMPARE(log.append(record(2, hostile)), QString());
        QCOMPARE(log.append(record(3, QString(3000, u'x'))), QString());
        QCOMPARE(readFile(log.path()).count('\n'), 3); // one line a record
        QCOMPARE(int(statOf(log.path()).st_mode & 0777), 0600);

        const TActivityLog::TPage page = log.readPage(0, 10);
        QVERIFY(page.ok && page.problems.isEmpty() && !page.more);
        QCOMPARE(int(page.records.size()), 3);
        QCOMPARE(page.records[0].details.size(), kMaxDetailsField); // cut, not refused
        QCOMPARE(page.records[1], record(2, hostile));
        QCOMPARE(page.records[2], record(1));
        QVERIFY(readFile(log.path()).startsWith("{\"time\":\"2026-03-01T12:00:01.000"));

        // Nothing is written through a link someone put in its place.
        writeFile(path("cel"), "nietknięty\n");
        QVERIFY(QFile::link(path("cel"), path("link.jsonl")));
        QVERIFY(!TActivityLog(path("link.jsonl")).append(record(4)).isEmpty());
        QVERIFY(::link(QFile::encodeName(path("cel")).constData(),
                       QFile::encodeName(path("twardy.jsonl")).constData()) == 0);
        QVERIFY(!TActivityLog(path("twardy.jsonl")).append(record(4)).isEmpty());
        QCOMPARE(readFile(path("cel")), QByteArray("nietknięty\n"));
    }

    void activityFailedWriteLeavesNothing() {
        const TActivityLog log(path("aktywnosc.jsonl"));
        QCOMPARE(log.append(record(1)), QString());
        const QByteArray before = readFile(log.path());
        struct rlimit old {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        struct rlimit small = old;
        small.rlim_cur = rlim_t(before.size() + 40); // the next record fits only in part
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const QString failed = log.append(record(2));
        ::setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY2(failed.startsWith(QStringLiteral("nie zapisano w dzienniku aktywności")),
                 qPrintable(failed));
        QCOMPARE(readFile(log.path()), before);
        QCOMPARE(log.append(record(3)), QString());
        QCOMPARE(int(log.readPage(0, 10).records.size()), 2);
    }

    // A crash while a record was written leaves part of a line: readers skip
    // it and say so, and the next record is not glued to it.
    void activityTornLastLine() {
        const TActivityLog log(path("aktywnosc.jsonl"));
        QCOMPARE(log.append(record(1)), QString());
        QCOMPARE(log.append(record(2)), QString());
        const QByteArray whole = readFile(log.path());
        writeFile(log.path(), whole + TActivityLog::encode(record(3)).left(50));

        TActivityLog::TPage page = log.readPage(0, 10);
        QCOMPARE(int(page.records.size()), 2);
        QCOMPARE(page.records[0], record(2));
        QCOMPARE(page.problems.size(), 1);
        QVERIFY2(page.problems[0].contains(QStringLiteral("niepełny")),
                 qPrintable(page.problems[0]));
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QStringList skipped;
        QCOMPARE(log.exportCsv(&csv, {}, {}, &skipped), QString());
        QCOMPARE(skipped, page.problems);
        QCOMPARE(csv.data().count('\n'), 3);

        QCOMPARE(log.append(record(4)), QString());
        QCOMPARE(readFile(log.path()), whole + TActivityLog::encode(record(4)) + '\n');
        page = log.readPage(0, 10);
        QVERIFY(page.problems.isEmpty());
        QCOMPARE(int(page.records.size()), 3);

        // A damaged line inside is named by where it starts, the rest read.
        writeFile(log.path(), whole + "{\"zepsuty\n" + TActivityLog::encode(record(5)) + '\n');
        page = log.readPage(0, 10);
        QCOMPARE(int(page.records.size()), 3);
        QCOMPARE(page.problems,
                 QStringList{QStringLiteral("dziennik aktywności %1: uszkodzony wiersz od bajtu "
                                            "%2; pominięty")
                                 .arg(log.path())
                                 .arg(whole.size())});
    }

    void activityPaging() {
        const TActivityLog log(path("aktywnosc.jsonl"));
        // Records of uneven length, so that lines straddle the 64 KiB blocks.
        QByteArray text;
        constexpr int kRecords = 1500;
        for (int i = 0; i < kRecords; ++i)
            text += TActivityLog::encode(record(i, QString((i * 37) % 300, u'a'))) + '\n';
        writeFile(log.path(), text);
        QVERIFY(text.size() > 4 * 64 * 1024);

        TActivityLog::TPage p = log.readPage(0, 25);
        QCOMPARE(int(p.records.size()), 25);
        QCOMPARE(p.records.front(),
                 record(kRecords - 1, QString(((kRecords - 1) * 37) % 300, u'a')));
        QVERIFY(p.more);
        p = log.readPage(kRecords - 10, 25);
        QCOMPARE(int(p.records.size()), 10);
        QCOMPARE(p.records.back(), record(0, QString()));
        QVERIFY(p.records.back().details.isEmpty());
        QVERIFY(!p.more);
        QVERIFY(log.readPage(kRecords, 25).records.empty());

        // Page after page from where the last ended: every record once, newest first.
        int next = kRecords - 1;
        qint64 end = -1;
        for (bool more = true; more;) {
            p = end < 0 ? log.readPage(0, 100) : log.readBefore(end, 100);
            QVERIFY(p.ok && p.problems.isEmpty());
            for (const TActivityRecord& r : p.records)
                QCOMPARE(r.details.size(), (next-- * 37) % 300);
            end = p.olderEnd;
            more = p.more;
        }
        QCOMPARE(next, -1);
        // A position that is not where a line starts is refused.
        QVERIFY(!log.readBefore(5, 10).ok);
        QVERIFY(TActivityLog(path("brak.jsonl")).readPage(0, 10).ok);
    }

    void activityCsv() {
        const TActivityLog log(path("aktywnosc.jsonl"));
        TActivityRecord r = record(0, QStringLiteral("uwaga; z \"cudzysłowem\""));
        r.user = QStringLiteral("=HYPERLINK(\"http://x\")");
        QCOMPARE(log.append(r), QString());
        QCOMPARE(log.append(record(3600)), QString());
        QCOMPARE(log.append(record(7200)), QString());

        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QCOMPARE(log.exportCsv(&csv), QString());
        QVERIFY(csv.data().startsWith("\xEF\xBB\xBF"));
        const QString text = QString::fromUtf8(csv.data().mid(3));
        const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("Czas;Strefa;Użytkownik;Adres;Działanie;Obiekt;Wynik;"
                                          "Szczegóły"));
        const QString offset = isoTimeWithOffset(r.time).right(6);
        QCOMPARE(lines[1],
                 QStringLiteral("2026-03-01 12:00:00;UTC%1;\"'=HYPERLINK(\"\"http://x\"\")\";"
                                "192.0.2.0;potwierdzenie alarmu;N1-szpital: awaria7;sukces;"
                                "\"uwaga; z \"\"cudzysłowem\"\"\"")
                     .arg(offset));

        // A period: both ends included.
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        QCOMPARE(log.exportCsv(&part, record(3600).time, record(7200).time), QString());
        QCOMPARE(part.data().count('\n'), 3);
        QVERIFY(part.data().contains("2026-03-01 13:00:00"));
        QVERIFY(!part.data().contains("12:00:00"));
    }
};

QTEST_GUILESS_MAIN(TstWebUsers)
#include "tst_webusers.moc"
