#include "tools/sim/ptylink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qta::sim {

// How the line survives the program closing and reopening its side:
//
// When nobody has the slave side of a pseudo-terminal open, the master reports hang-up
// and reads fail with EIO. The simulator therefore keeps one slave descriptor of its own
// open for its whole life (it never reads from it), so the master never hangs up, the raw
// mode set here stays in force between the program's opens, and the program can come and
// go any number of times. The descriptor is opened before the program's, so the program's
// exclusive open (TIOCEXCL) does not stand in its way.
//
// The price: what the simulator writes while the program is away piles up in the slave's
// input queue, and a program opening the line later would first read a backlog of old
// frames. So before each frame the simulator looks at that queue through its own
// descriptor. A reader drains it within milliseconds; bytes that have waited longer than
// kStaleMs mean nobody is reading, and the queue is flushed before the new frame goes in.
// A program that opens the line thus finds at most half a second of output, never a
// backlog, and the queue cannot grow while nobody listens.
namespace {
constexpr qint64 kStaleMs = 500;
constexpr int kWriteWaitMs = 100;
} // namespace

PtyLink::~PtyLink() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool PtyLink::open(QString* error) {
    const auto fail = [&](const char* what) {
        *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                              QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return fail("posix_openpt");
    if (::grantpt(master_) != 0)
        return fail("grantpt");
    if (::unlockpt(master_) != 0)
        return fail("unlockpt");
    const char* name = ::ptsname(master_);
    if (!name)
        return fail("ptsname");
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0)
        return fail("open slave");
    // Raw: no echo of what the simulator writes, no line editing, every byte value passes.
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B38400);
    ::cfsetospeed(&tio, B38400);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    return true;
}

bool PtyLink::write(const QByteArray& bytes, qint64 now) {
    int unread = 0;
    if (::ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0) {
        unreadSince_ = now;
    } else if (now - unreadSince_ > kStaleMs) {
        ::tcflush(slave_, TCIFLUSH);
        unreadSince_ = now;
        ++staleFlushes_;
        lastFlushedBytes_ = unread;
    }
    qsizetype done = 0;
    int waited = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(master_, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        if (waited >= kWriteWaitMs)
            return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 10);
        waited += 10;
    }
    return true;
}

QByteArray PtyLink::read() {
    QByteArray out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: all read. EIO cannot happen while our own slave descriptor is open.
    }
    return out;
}

} // namespace qta::sim
