// The simulator's end of the serial line: a pseudo-terminal whose slave device the
// program opens as if it were a serial port.
#pragma once

#include <QByteArray>
#include <QString>

namespace qta::sim {

class PtyLink {
public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    bool open(QString* error);
    QString slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes one whole frame (or nothing); false when the line cannot take it.
    bool write(const QByteArray& bytes, qint64 now);
    // Whatever the program has written; empty when nothing is waiting.
    QByteArray read();

    int staleFlushes() const { return staleFlushes_; }
    // Bytes thrown away by the last stale flush.
    int lastFlushedBytes() const { return lastFlushedBytes_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    qint64 unreadSince_ = 0;
    int staleFlushes_ = 0;
    int lastFlushedBytes_ = 0;
};

} // namespace qta::sim
