#include "tables/csv.h"

#include <QBuffer>
#include <QTest>

using namespace qta;

class TstCsv : public QObject {
    Q_OBJECT
private slots:
    void quoting_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << QStringList{"a", "230", ""} << QByteArray("a;230;\r\n");
        QTest::newRow("separator") << QStringList{"a;b"} << QByteArray("\"a;b\"\r\n");
        QTest::newRow("quote") << QStringList{"x\"y"} << QByteArray("\"x\"\"y\"\r\n");
        QTest::newRow("line breaks")
            << QStringList{"1\r\n2", "3\n"} << QByteArray("\"1\r\n2\";\"3\n\"\r\n");
        QTest::newRow("comma and spaces stay bare")
            << QStringList{" 2,5 "} << QByteArray(" 2,5 \r\n");
        QTest::newRow("polish letters in UTF-8")
            << QStringList{QStringLiteral("Zanik napięcia łącznik")}
            << QStringLiteral("Zanik napięcia łącznik\r\n").toUtf8();
    }
    void quoting() {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, line);
        QCOMPARE(csvLine(fields), line);
    }

    void bomOnceBeforeTheFirstRow() {
        QBuffer buf;
        buf.open(QIODevice::WriteOnly);
        TCsvWriter w(&buf);
        QVERIFY(w.writeRow({"A", "B"}));
        QVERIFY(w.writeRow({"1", "2"}));
        QCOMPARE(buf.data(), QByteArray("\xEF\xBB\xBF"
                                        "A;B\r\n1;2\r\n"));
        QCOMPARE(w.rowsWritten(), 2);
    }

    void refusedWriteIsReported() {
        QBuffer buf; // not open: every write fails
        TCsvWriter w(&buf);
        QVERIFY(!w.writeRow({"A"}));
        QCOMPARE(w.rowsWritten(), 0);
    }
};

QTEST_GUILESS_MAIN(TstCsv)
#include "tst_csv.moc"
