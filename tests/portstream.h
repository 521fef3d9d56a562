// The port service's byte stream as the tests drive it: a port opened on a
// device or server with a record of its losses, what it delivers collected
// and checked call by call, and the errors it raises caught.
#pragma once

#include "link/comport.h"

#include <QByteArray>
#include <QSignalSpy>
#include <QTest>

namespace qta::test {

// A port service with every lost() it emits recorded from its construction on.
class WatchedPort : public TComPort {
public:
    WatchedPort() = default;
    // Named `name` and opened (an open failure is raised, as by Open()).
    explicit WatchedPort(const QString& name) {
        setPort(name);
        Open();
    }
    QSignalSpy losses{this, &TComPort::lost};
};

// What a port delivers, read in full at each call of its receive handler.
// Each call must come from that port with the count of what is waiting, and
// a read must give exactly that many bytes, in place of what the buffer held.
class Received {
public:
    explicit Received(TComPort& port) : port_(port) {
        port_.OnRxChar = [this](QObject* sender, int count) { take(sender, count); };
    }
    ~Received() { port_.OnRxChar = nullptr; }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;

    QByteArray data; // everything read so far
    int calls = 0;   // calls of the handler

private:
    void take(QObject* sender, int count) {
        ++calls;
        QCOMPARE(sender, static_cast<QObject*>(&port_));
        QVERIFY(count > 0);
        QByteArray s("junk");
        QCOMPARE(port_.ReadStr(s, count), count);
        QCOMPARE(int(s.size()), count);
        data += s;
    }

    TComPort& port_;
};

// Runs `f`, which must raise EComPort; returns the error (Code 0 when none came).
template <class F> EComPort raised(F&& f) {
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    return EComPort(0, -1, QString());
}

} // namespace qta::test
