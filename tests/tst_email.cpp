// Alarm e-mail without a server: the [email] settings as a table (the
// password file's rules, recipients and their priorities), the subject in
// RFC 2047 words and the quoted-printable body, the subject and body of a
// batch, when messages go (batches, the priority filter, the hourly limit
// and its summary) as tables of steps on a hand-moved clock, the planner's
// state across a restart, the queue on disk (files, order, limit, leftovers,
// one mailer to a queue) and what a failed sending means.
#include "email/emailsettings.h"
#include "email/mailer.h"
#include "email/mailplan.h"
#include "email/mailqueue.h"
#include "email/mailtext.h"
#include "email/smtpsender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <curl/curl.h>
#include <sys/stat.h>

using namespace qta;
using namespace qta::email;

namespace {

const QDateTime kT0(QDate(2026, 12, 11), QTime(3, 0, 0));

TMailEvent change(const QString& controller, AlarmPriority p, AlarmTransition t, int second,
                  const QString& alarm = QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa")) {
    return {controller, QStringLiteral("QTA1v2"), kT0.addSecs(second), alarm, p, t, {}, {}};
}

// The text of a header field as its encoded words say it (base64 words only).
QString decodeHeader(const QByteArray& field, int* longest, bool* wholeChars) {
    *longest = 0;
    *wholeChars = true;
    for (const QByteArray& line : field.split('\n'))
        *longest = std::max(*longest, int(line.size() - (line.endsWith('\r') ? 1 : 0)));
    const QString text = QString::fromLatin1(field.mid(field.indexOf(':') + 2)).trimmed();
    static const QRegularExpression word(QStringLiteral(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)"));
    QString out;
    bool any = false;
    for (auto it = word.globalMatch(text); it.hasNext();) {
        any = true;
        const QByteArray bytes = QByteArray::fromBase64(it.next().captured(1).toLatin1());
        const QString piece = QString::fromUtf8(bytes);
        *wholeChars =
            *wholeChars && piece.toUtf8() == bytes && !piece.contains(QChar::ReplacementCharacter);
        out += piece;
    }
    return any ? out : text;
}

} // namespace

class TestEmail : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settings_data() {
        QTest::addColumn<QStringList>("keys"); // KEY=VALUE
        QTest::addColumn<int>("passwordMode"); // octal; 0: no file
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("error"); // a part of the first error; empty: none
        const QStringList base{"Host=poczta.zaklad.pl", "From=qta@zaklad.pl",
                               "Odbiorcy=jan@zaklad.pl"};
        QTest::newRow("no Host") << QStringList{"Port=25"} << 0 << false << "";
        QTest::newRow("defaults") << base << 0 << true << "";
        QTest::newRow("login") << base + QStringList{"User=qta", "PasswordFile=pw"} << 0600 << true
                               << "";
        QTest::newRow("password readable by the group")
            << base + QStringList{"User=qta", "PasswordFile=pw"} << 0640 << false << "mogą czytać";
        QTest::newRow("password file missing")
            << base + QStringList{"User=qta", "PasswordFile=brak"} << 0 << false << "brak pliku";
        QTest::newRow("user without password")
            << base + QStringList{"User=qta"} << 0 << false << "razem";
        QTest::newRow("tls") << base + QStringList{"Security=tls"} << 0 << true << "";
        QTest::newRow("none to the loopback")
            << QStringList{"Host=127.0.0.1", "Security=none", "From=a@b.pl", "Odbiorcy=c@d.pl"} << 0
            << true << "";
        QTest::newRow("none to another computer")
            << base + QStringList{"Security=none"} << 0 << false << "tylko do serwera";
        QTest::newRow("unknown security")
            << base + QStringList{"Security=ssl"} << 0 << false << "Security=ssl";
        QTest::newRow("no From") << QStringList{"Host=h", "Odbiorcy=a@b.pl"} << 0 << false
                                 << "brak From=";
        QTest::newRow("From with a name")
            << QStringList{"Host=h", "From=QTA <qta@zaklad.pl>", "Odbiorcy=a@b.pl"} << 0 << false
            << "From=";
        QTest::newRow("no recipients") << QStringList{"Host=h", "From=a@b.pl", "Odbiorcy= , "} << 0
                                       << false << "brak odbiorców";
        QTest::newRow("recipient without a domain")
            << QStringList{"Host=h", "From=a@b.pl", "Odbiorcy=jan@zaklad.pl, ola@zaklad"} << 0
            << false << "„ola@zaklad”";
        QTest::newRow("recipient with a line break")
            << QStringList{"Host=h", "From=a@b.pl", "Odbiorcy=ola@zaklad.pl\r\nBcc: x@y.pl"} << 0
            << false << "ola@zaklad.pl";
        QTest::newRow("unknown priority")
            << QStringList{"Host=h", "From=a@b.pl", "Odbiorcy=jan@zaklad.pl:niski"} << 0 << false
            << "wysoki lub sredni";
        QTest::newRow("recipient twice")
            << QStringList{"Host=h", "From=a@b.pl", "Odbiorcy=jan@zaklad.pl, JAN@zaklad.pl:wysoki"}
            << 0 << false << "dwa razy";
        QTest::newRow("console link")
            << base + QStringList{"KonsolaUrl=https://scada.zaklad.pl/alarmy"} << 0 << true << "";
        QTest::newRow("console link not http")
            << base + QStringList{"KonsolaUrl=javascript:alert(1)"} << 0 << false << "KonsolaUrl=";
        QTest::newRow("limit out of range")
            << base + QStringList{"LimitNaGodzine=0"} << 0 << false << "LimitNaGodzine=0";
        QTest::newRow("private CA missing")
            << base + QStringList{"CaFile=ca.crt"} << 0 << false << "CaFile=";
    }
    void settings() {
        QFETCH(QStringList, keys);
        QFETCH(int, passwordMode);
        QFETCH(bool, enabled);
        QFETCH(QString, error);
        QTemporaryDir dir;
        if (passwordMode) {
            QFile f(dir.filePath("pw"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Tajne-haslo\n");
            f.close();
            QCOMPARE(::chmod(QFile::encodeName(f.fileName()).constData(), mode_t(passwordMode)), 0);
        }
        QMap<QString, QString> map;
        for (const QString& k : keys)
            map.insert(k.section(u'=', 0, 0), k.section(u'=', 1));
        QStringList errors;
        const TEmailSettings s =
            emailSettings([&](const char* key) { return map.value(QLatin1String(key)).trimmed(); },
                          dir.path(), errors);
        QCOMPARE(s.enabled(), enabled);
        if (error.isEmpty()) {
            QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
        } else {
            QVERIFY(!errors.isEmpty());
            QVERIFY2(errors.first().contains(error), qPrintable(errors.first()));
            QVERIFY(errors.first().startsWith(QStringLiteral("[email]: ")));
            QVERIFY(!errors.join(u' ').contains(QStringLiteral("Tajne")));
        }
        if (!enabled)
            return;
        const int port = map.value("Security") == u"tls"    ? 465
                         : map.value("Security") == u"none" ? 25
                                                            : 587;
        QCOMPARE(s.port, port);
        QCOMPARE(s.perHour, 10);
        if (map.contains(QStringLiteral("PasswordFile")))
            QCOMPARE(s.password, QStringLiteral("Tajne-haslo"));
    }

    void recipientsAndTheirPriorities() {
        QList<TRecipient> r;
        QString error;
        QVERIFY(parseRecipients(
            QStringLiteral(" jan@zaklad.pl , ola.nowak+alarmy@zaklad.pl:wysoki,dyzur@x.pl:średni"),
            r, error));
        QCOMPARE(r, (QList<TRecipient>{{"jan@zaklad.pl", AlarmPriority::Medium},
                                       {"ola.nowak+alarmy@zaklad.pl", AlarmPriority::High},
                                       {"dyzur@x.pl", AlarmPriority::Medium}}));
        QVERIFY(r[0].wants(AlarmPriority::Medium) && r[0].wants(AlarmPriority::High));
        QVERIFY(!r[1].wants(AlarmPriority::Medium) && r[1].wants(AlarmPriority::High));
    }

    void subjectHeader_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("encoded");
        QTest::newRow("plain ASCII stays") << "[QTA-504] Test" << false;
        QTest::newRow("ASCII that reads like a word") << "a =?UTF-8?B?eA==?= b" << true;
        QTest::newRow("Polish") << "[QTA-504] ROZDZIELNIA-A: Zadziałanie wyłącznika "
                                   "bezpieczeństwa – wystąpił, ustąpił; i 2 inne alarmy"
                                << true;
        QTest::newRow("two-byte letters across every word boundary")
            << QString(90, QChar(u'ż')) << true;
        QTest::newRow("characters outside the basic plane")
            << QStringLiteral("Kotłownia 🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥🔥") << true;
    }
    void subjectHeader() {
        QFETCH(QString, subject);
        QFETCH(bool, encoded);
        const QByteArray field = headerField("Subject", subject);
        QVERIFY(field.endsWith("\r\n"));
        for (const char c : field)
            QVERIFY(uchar(c) < 128);
        QCOMPARE(field.contains("=?UTF-8?B?"), encoded);
        int longest = 0;
        bool whole = false;
        QCOMPARE(decodeHeader(field, &longest, &whole), subject);
        QVERIFY2(longest <= 76, field.constData());
        QVERIFY(whole); // no word splits a character
        // Folded lines continue with white space.
        const QList<QByteArray> lines = field.trimmed().split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i)
            QVERIFY(lines[i].startsWith(' '));
    }

    void quotedPrintableBody_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("Polish letters") << "zażółć" << QByteArray("za=C5=BC=C3=B3=C5=82=C4=87\r\n");
        QTest::newRow("equals sign") << "a=b" << QByteArray("a=3Db\r\n");
        QTest::newRow("space at the end of a line")
            << "koniec \nx" << QByteArray("koniec=20\r\nx\r\n");
        QTest::newRow("a long line is broken softly")
            << QString(100, u'x') << QByteArray(75, 'x') + "=\r\n" + QByteArray(25, 'x') + "\r\n";
        QTest::newRow("an escape is never split")
            << QString(74, u'x') + u'ą' << QByteArray(74, 'x') + "=\r\n=C4=85\r\n";
    }
    void quotedPrintableBody() {
        QFETCH(QString, text);
        QFETCH(QByteArray, encoded);
        QCOMPARE(quotedPrintable(text), encoded);
    }

    void dateHeader() {
        QCOMPARE(mailDate(QDateTime(QDate(2026, 12, 11), QTime(4, 5, 6), QTimeZone(3600))),
                 QByteArray("Fri, 11 Dec 2026 04:05:06 +0100"));
        QCOMPARE(
            mailDate(QDateTime(QDate(2026, 7, 1), QTime(23, 0, 0), QTimeZone(-5 * 3600 - 1800))),
            QByteArray("Wed, 01 Jul 2026 23:00:00 -0530"));
    }

    void subjects_data() {
        QTest::addColumn<QList<TMailEvent>>("events");
        QTest::addColumn<bool>("summary");
        QTest::addColumn<QString>("subject");
        const auto H = AlarmPriority::High, M = AlarmPriority::Medium;
        const auto W = AlarmTransition::Raised, U = AlarmTransition::Cleared,
                   P = AlarmTransition::Acknowledged;
        const QString gen = QStringLiteral("Załączenie generatora");
        QTest::newRow("a trip")
            << QList<TMailEvent>{change("ROZDZIELNIA-A", H, W, 0)} << false
            << "[QTA-504] ROZDZIELNIA-A: Zadziałanie wyłącznika bezpieczeństwa – wystąpił";
        QTest::newRow("a trip and its return")
            << QList<TMailEvent>{change("A", H, W, 0), change("A", H, U, 8)} << false
            << "[QTA-504] A: Zadziałanie wyłącznika bezpieczeństwa – wystąpił, ustąpił";
        QTest::newRow("high priority leads, the others counted")
            << QList<TMailEvent>{change("A", M, W, 0, gen), change("A", M, P, 1, gen),
                                 change("B", H, W, 2), change("A", M, W, 3, "Linia zła: N2")}
            << false
            << "[QTA-504] B: Zadziałanie wyłącznika bezpieczeństwa – wystąpił; i 2 inne alarmy";
        QTest::newRow("a raised alarm before an acknowledged one")
            << QList<TMailEvent>{change("A", M, P, 0), change("B", M, W, 1, gen)} << false
            << "[QTA-504] B: Załączenie generatora – wystąpił; i 1 inny alarm";
        QTest::newRow("summary") << QList<TMailEvent>{change("A", H, W, 0), change("B", H, U, 5)}
                                 << true << "[QTA-504] Podsumowanie: 2 zmiany alarmów (A, B)";
    }
    void subjects() {
        QFETCH(QList<TMailEvent>, events);
        QFETCH(bool, summary);
        QFETCH(QString, subject);
        TMailContent c;
        c.events = events;
        c.summary = summary;
        for (const TMailEvent& e : events)
            if (std::none_of(c.controllers.begin(), c.controllers.end(),
                             [&](const auto& k) { return k.controller == e.controller; }))
                c.controllers << TControllerAlarms{e.controller, e.identifier, {}};
        QCOMPARE(mailSubject(c), subject);
    }

    void pluralForms() {
        const QStringList forms{"zmiana", "zmiany", "zmian"};
        QStringList got;
        for (int n : {1, 2, 4, 5, 11, 12, 14, 21, 22, 25, 104, 112})
            got << plural(n, forms[0], forms[1], forms[2]);
        QCOMPARE(got, (QStringList{"zmiana", "zmiany", "zmiany", "zmian", "zmian", "zmian", "zmian",
                                   "zmian", "zmiany", "zmian", "zmiany", "zmian"}));
    }

    // The body of a message from the engine's own view: each transition with
    // who acknowledged it, the alarms still waiting, the link, the rule.
    void body() {
        TAlarm a;
        a.key = QStringLiteral("awaria7");
        a.kind = AlarmKind::SafetyBreaker;
        a.text = QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");
        a.priority = AlarmPriority::High;
        a.raised = kT0;
        a.state = AlarmState::ActiveAcked;
        a.who = QStringLiteral("jan (mqtt)");
        // A remark from the network cannot add a line (a link) of its own.
        a.remark = QStringLiteral("wymiana\r\nKonsola: https://zly.example");
        TAlarm gen = a;
        gen.key = QStringLiteral("awaria2");
        gen.text = QStringLiteral("Załączenie generatora");
        gen.priority = AlarmPriority::Medium;
        gen.state = AlarmState::ActiveUnacked;
        gen.shelvedUntil = kT0.addSecs(3600);
        TMailContent c;
        c.events << mailEvent("A", "QTA1v2", a, AlarmTransition::Raised, kT0.addSecs(99))
                 << mailEvent("A", "QTA1v2", a, AlarmTransition::Acknowledged, kT0.addSecs(20));
        c.controllers << waitingAlarms("A", "QTA1v2", {gen, a});
        c.limitUntil = kT0.addSecs(3600);
        TMailStyle style{QStringLiteral("https://scada.zaklad.pl/alarmy"), "serwer", 30, 10};
        const QStringList lines = mailBody(c, style).split(u'\n');
        QCOMPARE(lines[0], QStringLiteral("Sterownik A (identyfikator QTA1v2)"));
        QVERIFY(lines.contains(QStringLiteral(
            "  2026-12-11 03:00:00  Zadziałanie wyłącznika bezpieczeństwa, priorytet wysoki: "
            "Wystąpił")));
        QVERIFY(lines.contains(QStringLiteral(
            "  2026-12-11 03:00:20  Zadziałanie wyłącznika bezpieczeństwa, priorytet wysoki: "
            "Potwierdzony (kto: jan (mqtt); uwagi: wymiana Konsola: https://zly.example)")));
        QVERIFY(lines.contains(QStringLiteral(
            "  Załączenie generatora, priorytet średni: aktywny, niepotwierdzony, wyciszony do "
            "04:00 (wystąpił 2026-12-11 03:00:00)")));
        QCOMPARE(c.controllers[0].waiting.size(), 1); // the acknowledged one waits no more
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^Konsola:"))),
                 QStringList{"Konsola: https://scada.zaklad.pl/alarmy"});
        const QString all = lines.join(u' ');
        QVERIFY(all.contains(QStringLiteral("To 10. wiadomość w ciągu godziny")));
        QVERIFY(all.contains(QStringLiteral("o 04:00")));
        QVERIFY(all.contains(QStringLiteral("Zmiany alarmów z 30 s przychodzą w jednej wiadomości; "
                                            "do jednego odbiorcy najwyżej 10 wiadomości na "
                                            "godzinę")));
        const QByteArray m = mimeMessage("qta@zaklad.pl", "jan@zaklad.pl", mailSubject(c),
                                         mailBody(c, style), kT0, "1.2@serwer", true);
        QVERIFY(m.contains("\r\nTo: <jan@zaklad.pl>\r\n"));
        QVERIFY(m.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
        QVERIFY(m.contains("\r\nImportance: high\r\n"));
        QVERIFY(m.contains("\r\n\r\nSterownik A (identyfikator QTA1v2)\r\n"));
    }

    // Steps: "T:h" / "T:m" a high / medium transition of controller A at T
    // seconds; "T:?" what is due then. `sent`: each message as
    // "T recipient count", with " L" when it reaches the limit and " S" for
    // a summary. Recipients: jan (every priority), ola (:wysoki). 2 an hour.
    void planner_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("a batch waits its 30 s")
            << "0:h 29:? 30:?" << QStringList{"30 jan 1", "30 ola 1"};
        QTest::newRow("what comes within the 30 s joins")
            << "0:h 10:m 29:h 30:?" << QStringList{"30 jan 3", "30 ola 2"};
        QTest::newRow("a later transition opens a new batch")
            << "0:h 30:? 31:h 60:? 61:?"
            << QStringList{"30 jan 1", "30 ola 1", "61 jan 1 L", "61 ola 1 L"};
        QTest::newRow("medium priority to who wants it") << "0:m 30:?" << QStringList{"30 jan 1"};
        QTest::newRow("past the limit: one summary an hour after the first")
            << "0:m 30:? 40:m 70:? 100:m 2000:m 3629:? 3630:?"
            << QStringList{"30 jan 1", "70 jan 1 L", "3630 jan 2 S L"};
        QTest::newRow("the hour slides: then messages flow again")
            << "0:m 30:? 40:m 70:? 100:m 3630:? 3700:m 3729:? 3730:?"
            << QStringList{"30 jan 1", "70 jan 1 L", "3630 jan 1 S L", "3730 jan 1 L"};
    }
    void planner() {
        QFETCH(QString, steps);
        QFETCH(QStringList, sent);
        const QList<TRecipient> who{{"jan@x.pl", AlarmPriority::Medium},
                                    {"ola@x.pl", AlarmPriority::High}};
        TMailPlanner p(who, 2, TMailTimes{});
        const qint64 t0 = kT0.toMSecsSinceEpoch();
        QStringList got;
        for (const QString& step : steps.split(u' ')) {
            const qint64 t = t0 + step.section(u':', 0, 0).toLongLong() * 1000;
            const QString what = step.section(u':', 1);
            if (what == u"?") {
                for (const TMailOut& o : p.due(t))
                    got << QStringLiteral("%1 %2 %3%4%5")
                               .arg((t - t0) / 1000)
                               .arg(o.recipient.section(u'@', 0, 0))
                               .arg(o.content.events.size())
                               .arg(o.content.summary ? " S" : "")
                               .arg(o.content.limitUntil.isValid() ? " L" : "");
                continue;
            }
            const auto pr = what == u"h" ? AlarmPriority::High : AlarmPriority::Medium;
            p.add(change("A", pr, AlarmTransition::Raised, int((t - t0) / 1000)),
                  {"A", "QTA1v2", {}}, t);
        }
        QCOMPARE(got, sent);
    }

    // Batches, what was sent in the hour and the waiting alarms survive a
    // restart; a recipient no longer configured is not brought back.
    void plannerStateAcrossARestart() {
        const QList<TRecipient> two{{"jan@x.pl", AlarmPriority::Medium},
                                    {"ola@x.pl", AlarmPriority::Medium}};
        const qint64 t0 = kT0.toMSecsSinceEpoch();
        TMailPlanner before(two, 1, TMailTimes{});
        TMailEvent e = change("A", AlarmPriority::High, AlarmTransition::Acknowledged, 0);
        e.who = QStringLiteral("jan (mqtt)");
        e.remark = QStringLiteral("ok");
        const TControllerAlarms waiting{
            "A", "QTA1v2", {{"Załączenie generatora", AlarmPriority::Medium, "aktywny", kT0}}};
        before.add(e, waiting, t0);
        QCOMPARE(before.due(t0 + 30000).size(), 2); // each at the limit now
        before.add(e, waiting, t0 + 40000);

        TMailPlanner after({two[0]}, 1, TMailTimes{});
        after.load(before.save());
        QCOMPARE(after.nextDue(), t0 + 30000 + 3600000); // the limit held over
        const QList<TMailOut> out = after.due(t0 + 30000 + 3600000);
        QCOMPARE(out.size(), 1);
        QCOMPARE(out[0].recipient, QStringLiteral("jan@x.pl"));
        QVERIFY(out[0].content.summary);
        QCOMPARE(out[0].content.events, QList<TMailEvent>{e});
        QCOMPARE(out[0].content.controllers, QList<TControllerAlarms>{waiting});
        QVERIFY(after.idle());
    }

    // One file per message, 0600 in a 0700 folder, read back in the order
    // made; past the limit the oldest goes with its file; what a crash left
    // half-written is removed, a file that cannot be read is named.
    void queueOnDisk() {
        QTemporaryDir root;
        const QString dir = root.filePath(QStringLiteral("data/.poczta"));
        QString error;
        {
            TMailQueue q(dir, 2);
            QVERIFY(q.open(error));
            QVERIFY(error.isEmpty());
            for (int i = 1; i <= 3; ++i) {
                const auto dropped =
                    q.add(QStringLiteral("jan@x.pl"), QStringLiteral("temat %1").arg(i),
                          "Subject: " + QByteArray::number(i) + "\r\n\r\nx\r\n", error);
                QVERIFY(error.isEmpty());
                QCOMPARE(int(dropped.size()), i == 3 ? 1 : 0);
                if (i == 3)
                    QCOMPARE(dropped.front().subject, QStringLiteral("temat 1"));
            }
        }
        QDir d(dir);
        const QStringList files = d.entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        for (const QString& f : files) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(d.filePath(f)).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
        }
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        QFile half(d.filePath(QStringLiteral("9999999999999-0000.msg.tmp")));
        QVERIFY(half.open(QIODevice::WriteOnly));
        half.close();
        QFile junk(d.filePath(QStringLiteral("0000000000001-0000.msg")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("nie wiadomość");
        junk.close();

        TMailQueue again(dir, 2);
        QVERIFY(again.open(error));
        QVERIFY2(error.contains(QStringLiteral("0000000000001-0000.msg")), qPrintable(error));
        QVERIFY(!half.exists());
        QCOMPARE(int(again.size()), 2);
        QCOMPARE(again.items()[0].subject, QStringLiteral("temat 2"));
        QCOMPARE(again.items()[1].message, QByteArray("Subject: 3\r\n\r\nx\r\n"));
        const QString first = again.items()[0].file;
        again.remove(0);
        QVERIFY(!QFile::exists(first));
        QCOMPARE(again.items()[0].subject, QStringLiteral("temat 3"));
    }

    // Two mailers on one queue would send everything twice: the second
    // says so and stays off; once the first stops, the queue is free.
    void oneMailerPerQueue() {
        QTemporaryDir dir;
        TEmailSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.from = QStringLiteral("qta@zaklad.pl");
        s.recipients = {{"jan@zaklad.pl", AlarmPriority::Medium}};
        QStringList log;
        const auto sink = [&](int, const QString& t) { log << t; };
        const QString queue = dir.filePath(QStringLiteral(".poczta"));
        auto first = std::make_unique<TMailer>(s, queue, sink);
        first->start();
        TMailer second(s, queue, sink);
        second.start();
        QVERIFY2(log.constLast().contains(QStringLiteral("jest zajęta przez inny proces")),
                 qPrintable(log.join(u'\n')));
        first.reset();
        TMailer third(s, queue, sink);
        third.start();
        QVERIFY2(log.constLast().contains(QStringLiteral("wiadomości o alarmach przez")),
                 qPrintable(log.constLast()));
    }

    void sendingResults_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("response");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("refused"); // this message only
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("text");
        QTest::newRow("sent") << int(CURLE_OK) << 250 << true << false << 6 << "";
        QTest::newRow("server down")
            << int(CURLE_COULDNT_CONNECT) << 0 << false << false << 4 << "nie przyjmuje połączeń";
        QTest::newRow("login refused")
            << int(CURLE_LOGIN_DENIED) << 535 << false << false << 3 << "odrzucił logowanie";
        QTest::newRow("untrusted certificate")
            << int(CURLE_PEER_FAILED_VERIFICATION) << 0 << false << false << 3 << "certyfikat";
        QTest::newRow("no STARTTLS")
            << int(CURLE_USE_SSL_FAILED) << 0 << false << false << 3 << "STARTTLS";
        QTest::newRow("login required")
            << int(CURLE_SEND_ERROR) << 530 << false << false << 3 << "wymaga logowania";
        QTest::newRow("recipient refused") << int(CURLE_SEND_ERROR) << 550 << false << true << 4
                                           << "odrzucił wiadomość (odpowiedź 550)";
        QTest::newRow("connection cut")
            << int(CURLE_RECV_ERROR) << 0 << false << false << 4 << "przerwane";
    }
    void sendingResults() {
        QFETCH(int, code);
        QFETCH(int, response);
        QFETCH(bool, ok);
        QFETCH(bool, refused);
        QFETCH(int, level);
        QFETCH(QString, text);
        const TSmtpResult r = smtpResult(code, response, QStringLiteral("detail"));
        QCOMPARE(r.ok, ok);
        QCOMPARE(r.messageRefused, refused);
        QCOMPARE(r.level, level);
        QVERIFY2(r.text.contains(text), qPrintable(r.text));
    }
};

QTEST_GUILESS_MAIN(TestEmail)
#include "tst_email.moc"
