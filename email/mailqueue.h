// The messages waiting to be sent, one file per message in a folder of the
// collector's data root (DataRoot/.poczta, 0700): each written under a
// temporary name, synced and then renamed (0600), so that a crash leaves a
// whole message or none; removed once the server has taken it. At start the
// folder is read back in the order the messages were made. The queue has a
// limit: past it the oldest message is dropped (and the caller says which).
#pragma once

#include <QByteArray>
#include <QString>
#include <deque>

namespace qta::email {

struct TQueuedMail {
    quint64 id = 0; // this run's number of the message
    QString file;   // empty when it could not be written (kept in memory only)
    QString recipient;
    QString subject; // for the log
    QByteArray message;
    int attempts = 0;     // failed sendings of this very message
    qint64 notBefore = 0; // a monotonic clock's ms: not tried before
};

class TMailQueue {
public:
    TMailQueue(const QString& dir, int limit);

    // Makes the folder when missing and reads the messages in it (temporary
    // files a crash left are removed). False, with the reason, when the
    // folder cannot be used; the queue then works in memory.
    bool open(QString& error);
    // Appends a message, written to disk first (`error` says why not; the
    // message is kept in memory all the same). Returns the messages dropped
    // to stay within the limit, oldest first.
    std::deque<TQueuedMail> add(const QString& recipient, const QString& subject,
                                const QByteArray& message, QString& error);
    // Removes the message at `index` (delivered) with its file.
    void remove(size_t index);
    // The message numbered `id`: its index, or -1 when it is gone.
    int indexOf(quint64 id) const;

    std::deque<TQueuedMail>& items() { return items_; }
    const std::deque<TQueuedMail>& items() const { return items_; }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const QString& dir() const { return dir_; }

    // The file format, for the tests: a short head (recipient, subject),
    // an empty line, the message as the server gets it.
    static QByteArray encode(const TQueuedMail& m);
    static bool decode(const QByteArray& bytes, TQueuedMail& m);

private:
    QString dir_;
    int limit_;
    qint64 lastStamp_ = 0;
    int sequence_ = 0;
    quint64 nextId_ = 1;
    std::deque<TQueuedMail> items_;
};

// Writes `bytes` to `path` whole or not at all: a temporary file (mode
// `mode`) synced, renamed over `path`, the folder synced. False with the
// reason.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, int mode, QString& error);

} // namespace qta::email
