// Framing and the receiver: request bytes, assembly, drops, no lost frames.
#include "link/frame.h"
#include "testbytes.h"

#include <QTest>

using namespace qta;

namespace {
QByteArray statusFrame(int seed) {
    QByteArray p(24, 0);
    for (int i = 0; i < 24; ++i)
        p[i] = char((seed * 7 + i * 13) & 0xFF);
    return buildFrame(RxStatus, p);
}
} // namespace

class TestFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestBytes_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("config") << buildFrame(TxAskConfig) << bytes({255, 1, 254, 0, 0});
        QTest::newRow("custom") << buildFrame(TxAskCustom) << bytes({255, 4, 251, 0, 0});
        QTest::newRow("identifier") << buildFrame(TxAskIdentifier) << bytes({255, 7, 248, 0, 0});
        QTest::newRow("record 0") << recordRequest(0) << bytes({255, 8, 247, 0, 0, 0, 0});
        QTest::newRow("record 300") << recordRequest(300) << bytes({255, 8, 247, 1, 44, 0, 45});
        QTest::newRow("record 499") << recordRequest(499) << bytes({255, 8, 247, 1, 243, 0, 244});
        // The sum is carried high byte first and can exceed one byte.
        QTest::newRow("sum over 255") << buildFrame(TxSetPin, bytes({200, 100, 255}))
                                      << bytes({255, 6, 249, 200, 100, 255, 2, 43});
    }
    void requestBytes() {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(frame, expected);
    }

    // Each case: the stream fed in chunks, and the codes of the frames that must come out.
    void receiver_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<int>>("codes");

        const QByteArray st = statusFrame(1);
        QList<QByteArray> oneByteEach;
        for (char c : st)
            oneByteEach << QByteArray(1, c);
        QTest::newRow("one byte per read") << oneByteEach << QList<int>{1};

        QByteArray with255(24, char(255));
        QTest::newRow("payload full of 255")
            << QList<QByteArray>{buildFrame(RxStatus, with255)} << QList<int>{1};

        QByteArray bad = statusFrame(2);
        bad[bad.size() - 1] = char(bad.at(bad.size() - 1) + 1);
        QTest::newRow("bad checksum then good")
            << QList<QByteArray>{bad + buildFrame(RxNewest, bytes({0, 5}))} << QList<int>{8};

        // Resynchronisation: broken bytes cost no frame that follows complete.
        QTest::newRow("stray 255 before a frame")
            << QList<QByteArray>{bytes({255}) + statusFrame(3)} << QList<int>{1};
        QTest::newRow("frame cut short, then a good one")
            << QList<QByteArray>{bytes({255, 1, 254, 0, 230, 0}) + statusFrame(3)} << QList<int>{1};
        QTest::newRow("long frame cut short, then a short one in the same read")
            << QList<QByteArray>{bytes({255, 2, 253, 1, 2, 3}) +
                                 buildFrame(RxNewest, bytes({0, 9}))}
            << QList<int>{8};
        QTest::newRow("cut frame, good frame split across reads")
            << QList<QByteArray>{bytes({255, 3, 252, 7}) + statusFrame(6).left(5),
                                 statusFrame(6).mid(5)}
            << QList<int>{1};
        QTest::newRow("corrupted frame then two good ones")
            << QList<QByteArray>{statusFrame(2).left(20) + bytes({255, 255}) +
                                 statusFrame(2).mid(22) + buildFrame(RxNewest, bytes({0, 5})) +
                                 statusFrame(7)}
            << QList<int>{8, 1};

        QTest::newRow("bad complement")
            << QList<QByteArray>{bytes({255, 7, 247, 1, 2, 3, 4, 5, 6, 7, 8, 0, 36})}
            << QList<int>{};

        QTest::newRow("garbage before a frame")
            << QList<QByteArray>{bytes({0, 1, 2, 254, 17}) +
                                 buildFrame(RxCustom, QByteArray(10, 1))}
            << QList<int>{4};

        // A code the controller never sends, complement right: dropped at once,
        // the frame right after it is received.
        QTest::newRow("unknown code dropped")
            << QList<QByteArray>{bytes({255, 9, 246}) + buildFrame(RxNewest, bytes({1, 2}))}
            << QList<int>{8};

        // Two frames in one read: both handled, in order.
        QTest::newRow("two frames in one read")
            << QList<QByteArray>{statusFrame(4) +
                                 buildFrame(RxIdentifier, QByteArray("ABCDEF\x01\x02"))}
            << QList<int>{1, 7};

        QTest::newRow("three frames split across reads")
            << QList<QByteArray>{statusFrame(5).left(10),
                                 statusFrame(5).mid(10) + buildFrame(RxNewest, bytes({0, 1})) +
                                     buildFrame(RxRecord, QByteArray(12, 3)).left(4),
                                 buildFrame(RxRecord, QByteArray(12, 3)).mid(4)}
            << QList<int>{1, 8, 3};

        QTest::newRow("zero bytes are data")
            << QList<QByteArray>{buildFrame(RxConfig, QByteArray(34, 0))} << QList<int>{2};
    }
    void receiver() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<int>, codes);
        TReceiver rx;
        QList<int> got;
        int posts = 0;
        for (const QByteArray& c : chunks) {
            if (rx.feed(c))
                ++posts;
            // The handler runs after the read has returned; it may find more held.
            while (rx.complete()) {
                got << rx.code();
                if (rx.rearm())
                    ++posts;
            }
        }
        QCOMPARE(got, codes);
        QCOMPARE(posts, codes.size());
        QVERIFY(!rx.complete());
    }

    void payloadIsIntact() {
        QByteArray p;
        for (int i = 0; i < 34; ++i)
            p.append(char(255 - i));
        TReceiver rx;
        QVERIFY(rx.feed(buildFrame(RxConfig, p)));
        QCOMPARE(rx.payloadBytes(), p);
        QCOMPARE(rx.word(0), 255 * 256 + 254);
        // Bytes arriving while the frame waits do not touch the buffer.
        rx.feed(buildFrame(RxConfig, QByteArray(34, 7)));
        QCOMPARE(rx.payloadBytes(), p);
        QVERIFY(rx.rearm());
        QCOMPARE(rx.payloadBytes(), QByteArray(34, 7));
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
