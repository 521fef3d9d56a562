#include "email/mailqueue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qta::email {

namespace {

const QByteArray kMagic = "qta504d-poczta 1\n";

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void syncFolder(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, int mode, QString& error) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".tmp";
    ::unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
    if (fd < 0) {
        error = QStringLiteral("nie można utworzyć %1: %2").arg(path, systemError());
        return false;
    }
    const bool ok = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    const QString why = ok ? QString() : systemError();
    ::close(fd);
    if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
        error = QStringLiteral("nie można zapisać %1: %2").arg(path, ok ? systemError() : why);
        ::unlink(temp.constData());
        return false;
    }
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

TMailQueue::TMailQueue(const QString& dir, int limit) : dir_(dir), limit_(std::max(1, limit)) {}

QByteArray TMailQueue::encode(const TQueuedMail& m) {
    QString subject = m.subject;
    subject.replace(u'\n', u' ');
    subject.replace(u'\r', u' ');
    return kMagic + "odbiorca " + m.recipient.toUtf8() + "\ntemat " + subject.toUtf8() + "\n\n" +
           m.message;
}

bool TMailQueue::decode(const QByteArray& bytes, TQueuedMail& m) {
    if (!bytes.startsWith(kMagic))
        return false;
    const qsizetype end = bytes.indexOf("\n\n", kMagic.size() - 1);
    if (end < 0)
        return false;
    for (const QByteArray& line : bytes.mid(kMagic.size(), end - kMagic.size()).split('\n')) {
        if (line.startsWith("odbiorca "))
            m.recipient = QString::fromUtf8(line.mid(9));
        else if (line.startsWith("temat "))
            m.subject = QString::fromUtf8(line.mid(6));
    }
    m.message = bytes.mid(end + 2);
    return !m.recipient.isEmpty() && !m.message.isEmpty();
}

bool TMailQueue::open(QString& error) {
    items_.clear();
    const QByteArray native = QFile::encodeName(dir_);
    QDir().mkpath(QFileInfo(dir_).absolutePath());
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        error =
            QStringLiteral("nie można utworzyć folderu kolejki %1: %2").arg(dir_, systemError());
        return false;
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = QStringLiteral("%1 nie jest folderem").arg(dir_);
        return false;
    }
    QDir dir(dir_);
    for (const QString& name : dir.entryList({QStringLiteral("*.tmp")}, QDir::Files))
        dir.remove(name);
    QStringList bad;
    for (const QString& name : dir.entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        TQueuedMail m;
        if (!f.open(QIODevice::ReadOnly) || !decode(f.readAll(), m)) {
            bad << name;
            continue;
        }
        m.file = f.fileName();
        m.id = nextId_++;
        items_.push_back(std::move(m));
    }
    if (!bad.isEmpty())
        error = QStringLiteral("nieczytelne pliki w kolejce %1 pominięto: %2")
                    .arg(dir_, bad.join(QStringLiteral(", ")));
    return true;
}

std::deque<TQueuedMail> TMailQueue::add(const QString& recipient, const QString& subject,
                                        const QByteArray& message, QString& error) {
    TQueuedMail m;
    m.recipient = recipient;
    m.subject = subject;
    m.message = message;
    m.id = nextId_++;
    // Names sort in the order the messages were made: the time, then a
    // sequence within the millisecond.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    sequence_ = now == lastStamp_ ? sequence_ + 1 : 0;
    lastStamp_ = now;
    const QString path = QDir(dir_).filePath(QStringLiteral("%1-%2.msg")
                                                 .arg(now, 13, 10, QLatin1Char('0'))
                                                 .arg(sequence_, 4, 10, QLatin1Char('0')));
    if (writeFileAtomically(path, encode(m), 0600, error))
        m.file = path;
    items_.push_back(std::move(m));
    std::deque<TQueuedMail> dropped;
    while (int(items_.size()) > limit_) {
        dropped.push_back(items_.front());
        remove(0);
    }
    return dropped;
}

int TMailQueue::indexOf(quint64 id) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].id == id)
            return int(i);
    return -1;
}

void TMailQueue::remove(size_t index) {
    if (index >= items_.size())
        return;
    if (!items_[index].file.isEmpty())
        QFile::remove(items_[index].file);
    items_.erase(items_.begin() + qsizetype(index));
}

} // namespace qta::email
