// The collector qta504d sending alarm messages to a real SMTP server started
// on the loopback (tests/smtpsink.py), against qta504-sim controllers; the
// messages are read back with Python's email package. Three controllers:
// a trip and its return in one Polish message per recipient within the
// batch time, each recipient with the priorities it asked for; the hourly
// limit and its summary; the server down for 20 s while two alarms happen
// and the collector killed meanwhile: both delivered after, nothing twice;
// STARTTLS with a login: a wrong password said once, the right one (SIGHUP)
// delivers what waited, an untrusted certificate said once.
//
// The batch time, the limit's hour and the first retry delay are shortened
// through the collector's test seam QTA504D_EMAIL_TIMES; the rules are the
// real ones (tst_email checks them with the real times).
#include "collectorproc.h"
#include "simprocess.h"
#include "smtpproc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/stat.h>

using namespace qta::test;

namespace {

constexpr int kLong = 60000;
const QString kBreaker = QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");

QStringList queued(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name);
}

int mode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// A message as the recipient's mail program sees it: well-formed MIME, plain
// UTF-8 text, headers in ASCII, lines within the limit.
void checkForm(const QJsonObject& m, const QString& to) {
    QCOMPARE(m["envelope_from"].toString(), QStringLiteral("qta504d@zaklad.pl"));
    QCOMPARE(m["envelope_to"].toArray(), QJsonArray{to});
    QCOMPARE(m["to"].toString(), to);
    QCOMPARE(m["from"].toString(), QStringLiteral("QTA-504 <qta504d@zaklad.pl>"));
    QCOMPARE(m["mime_version"].toString(), QStringLiteral("1.0"));
    QCOMPARE(m["content_type"].toString(), QStringLiteral("text/plain"));
    QCOMPARE(m["charset"].toString(), QStringLiteral("utf-8"));
    QVERIFY(m["date_ok"].toBool());
    QVERIFY(m["ascii"].toBool());
    QVERIFY(m["crlf"].toBool());
    QVERIFY(m["max_line"].toInt() <= 78);
    QCOMPARE(m["defects"].toArray(), QJsonArray());
}

} // namespace

class TestEmailSmtp : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }
    std::unique_ptr<SimProcess> sim(const QString& name, const QString& id) {
        return std::make_unique<SimProcess>(path(name), path(name + QStringLiteral(".log")),
                                            QStringList{"--period", "500", "--id", id});
    }
    // The configuration: [email] with `email` (Host= and Port= given), and a
    // controller section per simulator.
    QString config(quint16 port, const QByteArray& email, const QList<SimProcess*>& sims) {
        QByteArray text =
            "[collector]\nDataRoot=" + path("data").toUtf8() +
            "\n[email]\nHost=127.0.0.1\nPort=" + QByteArray::number(port) +
            "\nFrom=qta504d@zaklad.pl\nKonsolaUrl=https://konsola.zaklad.pl/alarmy\n" + email;
        const char* names[] = {"A", "B", "C"};
        for (int i = 0; i < sims.size(); ++i)
            text += "[" + QByteArray(names[i]) + "]\nPort=" + sims[i]->link().toUtf8() + "\n";
        const QString file = path("collector.ini");
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
        return file;
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() {
        qunsetenv("QTA504D_EMAIL_TIMES");
        dir_.reset();
    }

    // Three controllers: A's safety breaker trips and returns, B starts its
    // generator. Within the batch time each recipient gets one message: the
    // one on call everything, the manager (":wysoki") the trip alone.
    void tripAndReturnInOneMessage() {
        qputenv("QTA504D_EMAIL_TIMES", "10000,3600000,200");
        SmtpServer smtp(dir_->path());
        QVERIFY(smtp.start());
        auto a = sim("a", "MAILA"), b = sim("b", "MAILB"), c = sim("c", "MAILC");
        QVERIFY(a->ready() && b->ready() && c->ready());
        Collector coll(config(smtp.port(),
                              "Security=none\nOdbiorcy=dyzur@zaklad.pl, "
                              "kierownik@zaklad.pl:wysoki\n",
                              {a.get(), b.get(), c.get()}));
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("odczytany") == 3, kLong);
        QElapsedTimer sinceTrip;
        sinceTrip.start();
        QVERIFY(a->commandTaken("awaria 128"));
        QVERIFY(b->commandTaken("awaria 4"));
        QTRY_VERIFY_WITH_TIMEOUT(coll.saidPart(QStringLiteral("A: alarm „") + kBreaker), kLong);
        QVERIFY(a->commandTaken("awaria 0"));
        QTRY_VERIFY_WITH_TIMEOUT(smtp.count() == 2, kLong);
        QVERIFY2(sinceTrip.elapsed() < 10000 + 5000,
                 qPrintable(QString::number(sinceTrip.elapsed())));
        QTRY_VERIFY(coll.saidPart(QStringLiteral("A: alarm „%1” (wysoki): Ustąpił").arg(kBreaker)));

        const QJsonArray mail = smtp.messages();
        QCOMPARE(mail.size(), 2);
        QJsonObject duty, manager;
        for (const QJsonValue& v : mail)
            (v.toObject()["to"].toString().startsWith(QStringLiteral("dyzur")) ? duty : manager) =
                v.toObject();
        checkForm(duty, QStringLiteral("dyzur@zaklad.pl"));
        checkForm(manager, QStringLiteral("kierownik@zaklad.pl"));
        QCOMPARE(manager["subject"].toString(),
                 QStringLiteral("[QTA-504] A: %1 – wystąpił, ustąpił").arg(kBreaker));
        QCOMPARE(
            duty["subject"].toString(),
            QStringLiteral("[QTA-504] A: %1 – wystąpił, ustąpił; i 1 inny alarm").arg(kBreaker));
        QCOMPARE(manager["importance"].toString(), QStringLiteral("high"));

        const QStringList body = manager["body"].toString().split(QStringLiteral("\n"));
        QVERIFY(body.contains(QStringLiteral("Sterownik A (identyfikator MAILA)")));
        const auto has = [](const QStringList& lines, const QString& part) {
            return std::any_of(lines.begin(), lines.end(),
                               [&](const QString& l) { return l.contains(part); });
        };
        QVERIFY(has(body, kBreaker + QStringLiteral(", priorytet wysoki: Wystąpił")));
        QVERIFY(has(body, kBreaker + QStringLiteral(", priorytet wysoki: Ustąpił")));
        QVERIFY(
            has(body, kBreaker + QStringLiteral(", priorytet wysoki: ustąpił, niepotwierdzony")));
        QVERIFY(!has(body, QStringLiteral("generatora")));
        QVERIFY(body.contains(QStringLiteral("Konsola: https://konsola.zaklad.pl/alarmy")));
        QVERIFY(has(body, QStringLiteral("Zmiany alarmów z 10 s przychodzą w jednej wiadomości")));
        const QString duties = duty["body"].toString();
        QVERIFY(duties.contains(QStringLiteral("Sterownik B (identyfikator MAILB)")));
        QVERIFY(duties.contains(
            QStringLiteral("Załączenie generatora, priorytet średni: aktywny, niepotwierdzony")));
        QVERIFY(!duties.contains(QStringLiteral("Sterownik C")));
        // Delivered: nothing left in the queue, which only its owner reads.
        QTRY_VERIFY(queued(path("data/.poczta")).isEmpty());
        QCOMPARE(mode(path("data/.poczta")), 0700);
        QCOMPARE(mode(path("data/.poczta/stan.json")), 0600);
        QTRY_COMPARE(coll.linesWith("poczta: wysłano do"), 2);
    }

    // Two an "hour" (20 s here): the second message says the limit is
    // reached; what comes after goes as one summary once the hour allows.
    void rateLimitThenSummary() {
        qputenv("QTA504D_EMAIL_TIMES", "2000,20000,200");
        SmtpServer smtp(dir_->path());
        QVERIFY(smtp.start());
        auto a = sim("a", "MAILA");
        QVERIFY(a->ready());
        Collector coll(config(
            smtp.port(), "Security=none\nOdbiorcy=dyzur@zaklad.pl\nLimitNaGodzine=2\n", {a.get()}));
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("odczytany") == 1, kLong);
        QVERIFY(a->commandTaken("awaria 4"));
        QTRY_VERIFY_WITH_TIMEOUT(smtp.count() == 1, kLong);
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        QVERIFY(a->commandTaken("awaria 0"));
        QTRY_VERIFY_WITH_TIMEOUT(smtp.count() == 2, kLong);
        // Past the limit: a new alarm and its return wait for the summary.
        QVERIFY(a->commandTaken("awaria 4"));
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("Załączenie generatora” (średni): Wystąpił") == 2,
                                 kLong);
        QVERIFY(a->commandTaken("awaria 0"));
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("Załączenie generatora” (średni): Ustąpił") == 2,
                                 kLong);
        QCOMPARE(smtp.count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(smtp.count() == 3, kLong);
        QVERIFY2(sinceFirst.elapsed() > 18000, qPrintable(QString::number(sinceFirst.elapsed())));

        const QJsonArray mail = smtp.messages();
        QCOMPARE(mail[0].toObject()["subject"].toString(),
                 QStringLiteral("[QTA-504] A: Załączenie generatora – wystąpił"));
        const QString second = mail[1].toObject()["body"].toString();
        QVERIFY2(second.contains(QStringLiteral("To 2. wiadomość w ciągu godziny, czyli limit.")),
                 qPrintable(second));
        QVERIFY(second.contains(QStringLiteral("Kolejne zmiany alarmów przyjdą w jednym "
                                               "podsumowaniu")));
        const QJsonObject summary = mail[2].toObject();
        checkForm(summary, QStringLiteral("dyzur@zaklad.pl"));
        QCOMPARE(summary["subject"].toString(),
                 QStringLiteral("[QTA-504] Podsumowanie: 2 zmiany alarmów (A)"));
        const QString text = summary["body"].toString();
        QVERIFY(text.startsWith(QStringLiteral("Podsumowanie: limit 2 wiadomości na godzinę")));
        QCOMPARE(text.count(QStringLiteral("Załączenie generatora, priorytet średni: Wystąpił")),
                 1);
        QCOMPARE(text.count(QStringLiteral("Załączenie generatora, priorytet średni: Ustąpił")), 1);
    }

    // The server away for 20 s: two controllers' alarms meanwhile. What the
    // server did not take waits on disk, the failure said once; the
    // collector is killed and started again while it waits; once the server
    // is back both alarms arrive, each once.
    void serverDownAndCollectorKilled() {
        qputenv("QTA504D_EMAIL_TIMES", "3000,3600000,250");
        SmtpServer smtp(dir_->path());
        auto a = sim("a", "MAILA"), b = sim("b", "MAILB");
        QVERIFY(a->ready() && b->ready());
        const QString cfg =
            config(smtp.port(), "Security=none\nOdbiorcy=dyzur@zaklad.pl\n", {a.get(), b.get()});
        auto coll = std::make_unique<Collector>(cfg);
        QTRY_VERIFY_WITH_TIMEOUT(coll->linesWith("odczytany") == 2, kLong);
        QElapsedTimer outage;
        outage.start();
        QVERIFY(a->commandTaken("awaria 128"));
        QVERIFY(b->commandTaken("awaria 1"));
        const QString queue = path("data/.poczta");
        QTRY_VERIFY_WITH_TIMEOUT(queued(queue).size() == 1, kLong);
        QCOMPARE(mode(queue + u'/' + queued(queue).constFirst()), 0600);
        QTRY_VERIFY_WITH_TIMEOUT(coll->linesWith("nie przyjmuje połączeń") == 1, kLong);

        coll->signal(SIGKILL);
        QVERIFY(coll->proc.waitForFinished(5000));
        coll = std::make_unique<Collector>(cfg);
        QTRY_VERIFY_WITH_TIMEOUT(coll->saidPart(QStringLiteral("w kolejce czeka 1")), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(coll->linesWith("nie przyjmuje połączeń") == 1, kLong);
        if (outage.elapsed() < 20000)
            QTest::qWait(int(20000 - outage.elapsed()));
        QCOMPARE(smtp.count(), 0);
        QVERIFY(smtp.start());
        QTRY_VERIFY_WITH_TIMEOUT(smtp.count() == 1, kLong);
        QTRY_VERIFY_WITH_TIMEOUT(queued(queue).isEmpty(), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(coll->saidPart(QStringLiteral("znów przyjmuje wiadomości")),
                                 kLong);
        QCOMPARE(coll->linesWith("nie przyjmuje połączeń"), 1);

        const QJsonObject m = smtp.messages().at(0).toObject();
        checkForm(m, QStringLiteral("dyzur@zaklad.pl"));
        const QString body = m["body"].toString();
        QVERIFY(body.contains(kBreaker + QStringLiteral(", priorytet wysoki: Wystąpił")));
        QVERIFY(body.contains(
            QStringLiteral("Brak napięcia na linii wyjściowej, priorytet wysoki: Wystąpił")));
        QVERIFY(body.contains(QStringLiteral("Sterownik A (identyfikator MAILA)")));
        QVERIFY(body.contains(QStringLiteral("Sterownik B (identyfikator MAILB)")));
    }

    // STARTTLS with a login. A wrong password: refused, said once as an
    // error, tried again; the right one (SIGHUP) delivers what waited. A CA
    // that did not sign the server's certificate: said once, nothing sent.
    void starttlsLoginAndCertificate() {
        qputenv("QTA504D_EMAIL_TIMES", "1000,3600000,200");
        QVERIFY(makeCertificates(dir_->path(), "good"));
        QVERIFY(makeCertificates(dir_->path(), "other"));
        SmtpServer smtp(dir_->path(), "good", "qta", "Haslo-poczty");
        QVERIFY(smtp.start());
        auto a = sim("a", "MAILA");
        QVERIFY(a->ready());
        const auto configure = [&](const QByteArray& password, const char* ca) {
            writeSecret(path("poczta.pw"), password + '\n');
            return config(smtp.port(),
                          "Security=starttls\nUser=qta\nPasswordFile=poczta.pw\nCaFile=" +
                              QByteArray(ca) + "\nOdbiorcy=dyzur@zaklad.pl\n",
                          {a.get()});
        };
        Collector coll(configure("zle-haslo", "good-ca.crt"));
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("odczytany") == 1, kLong);
        QVERIFY(a->commandTaken("awaria 128"));
        QTRY_VERIFY_WITH_TIMEOUT(smtp.logins().count(QStringLiteral("refused qta")) >= 3, kLong);
        QCOMPARE(smtp.count(), 0);

        configure("Haslo-poczty", "good-ca.crt");
        coll.signal(SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(smtp.count() == 1, kLong);
        QVERIFY(smtp.logins().contains(QStringLiteral("ok qta")));
        const QJsonObject m = smtp.messages().at(0).toObject();
        checkForm(m, QStringLiteral("dyzur@zaklad.pl"));
        QCOMPARE(m["subject"].toString(),
                 QStringLiteral("[QTA-504] A: %1 – wystąpił").arg(kBreaker));

        configure("Haslo-poczty", "other-ca.crt");
        coll.signal(SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("wczytano konfigurację ponownie") == 2, kLong);
        // Lines said before the reload have all been read by now.
        QCOMPARE(coll.linesWith("odrzucił logowanie"), 1);
        QVERIFY(a->commandTaken("awaria 0"));
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("certyfikat serwera poczty niezaufany") == 1,
                                 kLong);
        QTRY_VERIFY_WITH_TIMEOUT(queued(path("data/.poczta")).size() == 1, kLong);
        QCOMPARE(smtp.count(), 1);
        coll.signal(SIGTERM);
        QCOMPARE(coll.finished(), 0);
        QCOMPARE(coll.linesWith("certyfikat serwera poczty niezaufany"), 1);
        const QString log = coll.log();
        QVERIFY(!log.contains(QStringLiteral("Haslo-poczty")) && !log.contains("zle-haslo"));
        for (const QString& l : coll.lines())
            if (l.contains(QStringLiteral("odrzucił logowanie")) ||
                l.contains(QStringLiteral("niezaufany")))
                QVERIFY2(l.startsWith(QStringLiteral("qta504d: poczta: serwer 127.0.0.1:")),
                         qPrintable(l));
    }
};

QTEST_GUILESS_MAIN(TestEmailSmtp)
#include "tst_email_smtp.moc"
