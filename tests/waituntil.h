// Waiting on the event loop for a condition, for the tests and tools that
// drive the core against the controller simulator.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

// Runs the event loop until `done` holds or the time is up; whether it holds.
// Unlike QTRY_*, which sleeps between rounds of events, it lets a record round
// trip take a millisecond.
template <class Pred> bool waitUntil(Pred done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || t.elapsed() > timeoutMs)
            loop.quit();
    });
    check.start();
    if (!done())
        loop.exec();
    return done();
}
