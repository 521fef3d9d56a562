// qta504-sim: a QTA-504 controller at the end of a pseudo-terminal, for the
// end-to-end tests and the demonstration. See usage() below.
#include "tools/sim/ptylink.h"
#include "tools/sim/script.h"
#include "tools/sim/simulator.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qta::sim;

namespace {

const char* const kUsage = R"(Usage: qta504-sim [options]

Simulates a QTA-504 controller on a pseudo-terminal: sends status frames,
answers the program's requests, keeps the settings the program writes and a
500-record event log. Prints "qta504-sim: ready PATH -> /dev/pts/N" when ready.

Options:
  --link PATH          publish the line as the symbolic link PATH (an existing
                       link is replaced; removed again on exit)
  --period MS          a status frame every MS milliseconds (default 1000; 0: none)
  --voltages V,...     nine phase voltages N1 L1..L3, N2 L1..L3, N3 L1..L3, or one
                       value for all nine (default 230)
  --faults F1,F2,F3    phase-fault bytes of N1, N2, N3 (default 0,0,0)
  --awaria N           fault byte of the status frame (default 0)
  --program N          operating program 0..15 (default 1)
  --active N           active-line code 0..15 (default 1)
  --states S1,S2,S3    states 0..3 of N1, N2, N3 (default 3,3,3)
  --limits MIN,MAX,H   Umin, Umax and hysteresis of all three lines in the
                       configuration (default 195,253,8)
  --id TEXT            identifier, up to six characters (default QTA1v2)
  --events N           event records 0..N-1 written, the rest empty; newest N-1
  --wrapped NEWEST     all 500 event records written, the newest at NEWEST
  --events-file FILE   event records from a text file, one per line:
                         INDEX YEAR MONTH DAY HOUR MINUTE EVENT KOD1 KOD2 KOD3 KOD4
                         INDEX empty
                         newest INDEX
                       YEAR is the year - 2000; lines starting with # are comments
  --newest N           newest record index (overrides the above)
  --demo               demonstration: voltages wander around 230 V, every few
                       seconds a line dips and the controller switches lines,
                       logging events; the same run every time for one --seed
  --seed N             seed of the demonstration (default 504)
  --script FILE        timed steps: one per line, "TIME COMMAND...", TIME in
                       milliseconds since ready or "+MS" after the step above;
                       COMMAND is any command of standard input (below);
                       # comments; a bad line stops the start (exit 2)
  --at MS:COMMAND      one timed step (repeatable), e.g. --at "3000:awaria 128"
  --log FILE           log every frame received ("rx CODE bytes...") and sent
                       ("tx CODE bytes..."), payload bytes in decimal
  --log-times          start every log line with the wall-clock time in
                       milliseconds since 1970 and a space (benchmarks)
  --verbose            log to standard error as well
  --help               this text

Commands on standard input, one per line (end of input does not stop it):
  silent on|off        stop / resume all output (status frames and answers)
  period MS            status frame period (0: none)
  voltages V1 ... V9   the nine phase voltages (or one value for all)
  faults F1 F2 F3      phase-fault bytes
  awaria N             fault byte
  program N            operating program
  active N             active-line code
  states S1 S2 S3      line states
  status               send a status frame now
  add-event EVENT KOD1 KOD2 KOD3 KOD4
                       store a record after the newest one, stamped with the
                       controller's clock, and announce the new newest index
  newest               announce the newest index (unasked code-8 frame)
  drop CODE N          treat the next N frames of CODE from the program as lost
  raw HEX...           send raw bytes, e.g. raw ff 07 f8
  quit                 stop

Exit status: 0 after quit or a termination signal, 1 when the line cannot be
set up, 2 for bad options, a bad events file or a bad script.
)";

int gSignalPipe[2] = {-1, -1};

void onSignal(int sig) {
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &c, 1);
    errno = saved;
}

qint64 nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Options {
    QString link;
    int period = 1000;
    std::optional<std::array<int, 9>> voltages;
    std::optional<std::array<int, 3>> faults;
    std::optional<int> awaria, program, active, newest;
    std::optional<std::array<int, 3>> states;
    std::optional<std::array<int, 3>> limits;
    QByteArray id = "QTA1v2";
    std::optional<int> events, wrapped;
    QString eventsFile;
    bool demo = false;
    std::uint32_t seed = 504;
    QString logPath;
    bool verbose = false;
    bool logTimes = false;
    QString scriptFile;
    QStringList at;
};

class UsageError {
public:
    explicit UsageError(QString m) : message(std::move(m)) {}
    QString message;
};

int number(const QString& opt, const QString& text, int lo, int hi) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < lo || v > hi)
        throw UsageError(
            QStringLiteral("%1: \"%2\" is not a number %3..%4").arg(opt, text).arg(lo).arg(hi));
    return v;
}

// "a,b,c" or "a b c": exactly `count` numbers, or a single one for all when allowed.
template <std::size_t N>
std::array<int, N> numbers(const QString& opt, const QString& text, int lo, int hi,
                           bool oneForAll) {
    const QStringList parts =
        text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    std::array<int, N> out{};
    if (oneForAll && parts.size() == 1) {
        out.fill(number(opt, parts[0], lo, hi));
        return out;
    }
    if (parts.size() != qsizetype(N))
        throw UsageError(QStringLiteral("%1 needs %2 comma-separated numbers").arg(opt).arg(N));
    for (std::size_t k = 0; k < N; ++k)
        out[k] = number(opt, parts[qsizetype(k)], lo, hi);
    return out;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        QString opt = QString::fromLocal8Bit(argv[i]);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = opt.indexOf(u'='); opt.startsWith(u"--") && eq > 0) {
            inlineValue = opt.mid(eq + 1);
            opt.truncate(eq);
        }
        const auto value = [&]() -> QString {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                throw UsageError(QStringLiteral("%1 needs a value").arg(opt));
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (opt == u"--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (opt == u"--link") {
            o.link = value();
        } else if (opt == u"--period") {
            o.period = number(opt, value(), 0, 3600000);
        } else if (opt == u"--voltages") {
            o.voltages = numbers<9>(opt, value(), 0, 65535, true);
        } else if (opt == u"--faults") {
            o.faults = numbers<3>(opt, value(), 0, 255, false);
        } else if (opt == u"--awaria") {
            o.awaria = number(opt, value(), 0, 255);
        } else if (opt == u"--program") {
            o.program = number(opt, value(), 0, 15);
        } else if (opt == u"--active") {
            o.active = number(opt, value(), 0, 15);
        } else if (opt == u"--limits") {
            o.limits = numbers<3>(opt, value(), 0, 65535, false);
        } else if (opt == u"--states") {
            o.states = numbers<3>(opt, value(), 0, 3, false);
        } else if (opt == u"--id") {
            const QString id = value();
            const QByteArray latin = id.toLatin1();
            if (id.isEmpty() || id.size() > 6 || QString::fromLatin1(latin) != id)
                throw UsageError(QStringLiteral("--id needs one to six Latin-1 characters"));
            o.id = latin.leftJustified(6, ' ');
        } else if (opt == u"--events") {
            o.events = number(opt, value(), 0, kRingSize);
        } else if (opt == u"--wrapped") {
            o.wrapped = number(opt, value(), 0, kRingSize - 1);
        } else if (opt == u"--events-file") {
            o.eventsFile = value();
        } else if (opt == u"--newest") {
            o.newest = number(opt, value(), 0, kRingSize - 1);
        } else if (opt == u"--demo") {
            o.demo = true;
        } else if (opt == u"--seed") {
            o.seed = std::uint32_t(number(opt, value(), 0, INT_MAX));
        } else if (opt == u"--log") {
            o.logPath = value();
        } else if (opt == u"--log-times") {
            o.logTimes = true;
        } else if (opt == u"--script") {
            o.scriptFile = value();
        } else if (opt == u"--at") {
            o.at << value();
        } else if (opt == u"--verbose") {
            o.verbose = true;
        } else {
            throw UsageError(QStringLiteral("unknown option \"%1\"").arg(opt));
        }
    }
    if (int(o.events.has_value()) + int(o.wrapped.has_value()) + int(!o.eventsFile.isEmpty()) > 1)
        throw UsageError(QStringLiteral("use only one of --events, --wrapped, --events-file"));
    return o;
}

// Points `link` at `target`, replacing an older symbolic link in one step.
bool publishLink(const QString& link, const QString& target, QString* error) {
    const QByteArray l = QFile::encodeName(link);
    const QByteArray t = QFile::encodeName(target);
    struct stat st {};
    if (::lstat(l.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(link);
        return false;
    }
    const QByteArray tmp = l + ".tmp" + QByteArray::number(::getpid());
    ::unlink(tmp.constData());
    if (::symlink(t.constData(), tmp.constData()) != 0 ||
        ::rename(tmp.constData(), l.constData()) != 0) {
        *error = QStringLiteral("cannot create the link %1: %2")
                     .arg(link, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(tmp.constData());
        return false;
    }
    return true;
}

// Removes the link only while it is still ours: another simulator may have taken the name over.
void withdrawLink(const QString& link, const QString& target) {
    const QByteArray l = QFile::encodeName(link);
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(l.constData(), buf, sizeof buf - 1);
    if (n > 0 && QByteArray(buf, n) == QFile::encodeName(target))
        ::unlink(l.constData());
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    try {
        opt = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "qta504-sim: %s\nTry qta504-sim --help.\n", qPrintable(e.message));
        return 2;
    }

    std::FILE* logFile = nullptr;
    if (!opt.logPath.isEmpty()) {
        logFile = std::fopen(QFile::encodeName(opt.logPath).constData(), "w");
        if (!logFile) {
            std::fprintf(stderr, "qta504-sim: cannot write the log %s: %s\n",
                         qPrintable(opt.logPath), std::strerror(errno));
            return 2;
        }
    }
    // Tests read the log while the simulator runs: every line goes out at once.
    const auto log = [&](const QString& line) {
        const QByteArray l =
            (opt.logTimes ? QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + ' '
                          : QByteArray()) +
            line.toLocal8Bit();
        if (logFile) {
            std::fprintf(logFile, "%s\n", l.constData());
            std::fflush(logFile);
        }
        if (opt.verbose) {
            std::fprintf(stderr, "%s\n", l.constData());
            std::fflush(stderr);
        }
    };

    PtyLink pty;
    // Output nobody read for half a second is thrown away; the log says so,
    // since a slow reader then misses frames that were sent.
    const auto writeFrame = [&](const QByteArray& frame) {
        const int flushes = pty.staleFlushes();
        const bool ok = pty.write(frame, nowMs());
        if (pty.staleFlushes() != flushes)
            log(QStringLiteral("stale %1 bytes unread for 0.5 s, flushed")
                    .arg(pty.lastFlushedBytes()));
        return ok;
    };
    Simulator sim(writeFrame, log);
    sim.identifier = opt.id;
    if (opt.voltages)
        sim.live.voltages = *opt.voltages;
    if (opt.faults)
        sim.live.faults = *opt.faults;
    if (opt.states)
        sim.live.states = *opt.states;
    sim.live.awaria = opt.awaria.value_or(sim.live.awaria);
    sim.live.program = opt.program.value_or(sim.live.program);
    if (opt.program) // the configuration holds the program as well
        sim.config[30] = char((std::uint8_t(sim.config[30]) & 0x87) | (*opt.program << 3));
    for (int line = 0; opt.limits && line < 3; ++line)
        for (int k = 0; k < 3; ++k) {
            sim.config[line * 6 + k * 2] = char((*opt.limits)[std::size_t(k)] >> 8);
            sim.config[line * 6 + k * 2 + 1] = char((*opt.limits)[std::size_t(k)] & 0xFF);
        }
    sim.live.active = opt.active.value_or(sim.live.active);
    if (opt.events)
        sim.ring.seed(*opt.events);
    if (opt.wrapped)
        sim.ring.seedWrapped(*opt.wrapped);
    if (!opt.eventsFile.isEmpty()) {
        QString error;
        if (!sim.ring.load(opt.eventsFile, &error)) {
            std::fprintf(stderr, "qta504-sim: %s\n", qPrintable(error));
            return 2;
        }
    }
    if (opt.newest)
        sim.ring.setNewest(*opt.newest);

    // Timed steps, checked whole before the line is offered: each command is
    // tried on a simulator of its own that writes nowhere.
    std::vector<ScriptStep> steps;
    try {
        Simulator probe([](const QByteArray&) { return true; }, [](const QString&) {});
        const auto check = [&probe](const QString& command) {
            QString why;
            return probe.command(command, 0, &why) == Simulator::CommandResult::Error ? why
                                                                                      : QString();
        };
        if (!opt.scriptFile.isEmpty()) {
            QFile f(opt.scriptFile);
            if (!f.open(QIODevice::ReadOnly))
                throw ScriptError(QStringLiteral("cannot read the script %1: %2")
                                      .arg(opt.scriptFile, f.errorString()));
            steps = parseScript(QString::fromUtf8(f.readAll()), opt.scriptFile, check);
        }
        for (const QString& a : opt.at)
            steps.push_back(parseAt(a, check));
        orderSteps(steps);
    } catch (const ScriptError& e) {
        std::fprintf(stderr, "qta504-sim: %s\n", qPrintable(e.message()));
        return 2;
    }

    QString error;
    if (!pty.open(&error)) {
        std::fprintf(stderr, "qta504-sim: cannot set up the pseudo-terminal: %s\n",
                     qPrintable(error));
        return 1;
    }

    if (::pipe2(gSignalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::perror("qta504-sim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (!opt.link.isEmpty() && !publishLink(opt.link, pty.slavePath(), &error)) {
        std::fprintf(stderr, "qta504-sim: %s\n", qPrintable(error));
        return 1;
    }
    const QString shown = opt.link.isEmpty() ? pty.slavePath() : opt.link;
    std::printf("qta504-sim: ready %s -> %s\n", qPrintable(shown), qPrintable(pty.slavePath()));
    std::fflush(stdout);
    log(QStringLiteral("ready %1 -> %2").arg(shown, pty.slavePath()));

    const qint64 readyAt = nowMs();
    sim.start(readyAt, opt.period, opt.demo, opt.seed);

    bool stdinOpen = true;
    QByteArray stdinBuf;
    bool running = true;
    std::size_t nextStep = 0;
    const auto run = [&](const QString& line) {
        QString cmdError;
        switch (sim.command(line, nowMs(), &cmdError)) {
        case Simulator::CommandResult::Quit: running = false; break;
        case Simulator::CommandResult::Error:
            std::fprintf(stderr, "qta504-sim: %s\n", qPrintable(cmdError));
            std::fflush(stderr);
            log(QStringLiteral("cmd-error ") + cmdError);
            break;
        case Simulator::CommandResult::Done: break;
        }
    };
    while (running) {
        while (running && nextStep < steps.size() && nowMs() - readyAt >= steps[nextStep].atMs) {
            const ScriptStep& step = steps[nextStep++];
            log(QStringLiteral("step %1 %2").arg(step.atMs).arg(step.command));
            run(step.command);
        }
        if (!running)
            break;
        sim.tick(nowMs());
        qint64 wait = sim.msUntilNextTick(nowMs());
        if (nextStep < steps.size()) {
            const qint64 due = std::max<qint64>(0, readyAt + steps[nextStep].atMs - nowMs());
            wait = wait < 0 ? due : std::min(wait, due);
        }
        pollfd fds[3] = {{pty.masterFd(), POLLIN, 0},
                         {gSignalPipe[0], POLLIN, 0},
                         {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        const int n = ::poll(fds, 3, wait < 0 ? -1 : int(std::min<qint64>(wait, INT_MAX)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::perror("qta504-sim: poll");
            break;
        }
        if (fds[1].revents) {
            char sig = 0;
            [[maybe_unused]] const ssize_t r = ::read(gSignalPipe[0], &sig, 1);
            log(QStringLiteral("signal %1, stopping").arg(int(sig)));
            break;
        }
        if (fds[0].revents) {
            const QByteArray bytes = pty.read();
            if (!bytes.isEmpty())
                sim.receive(bytes, nowMs());
            else if (fds[0].revents & (POLLHUP | POLLERR))
                ::usleep(50000); // cannot happen while our slave descriptor is open; never spin
        }
        if (fds[2].revents) {
            char buf[4096];
            const ssize_t r = ::read(STDIN_FILENO, buf, sizeof buf);
            if (r > 0) {
                stdinBuf.append(buf, r);
            } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                // Scripts run the simulator with no input at all: it keeps going until a signal.
                stdinOpen = false;
                if (!stdinBuf.isEmpty())
                    stdinBuf.append('\n');
            }
            qsizetype nl;
            while (running && (nl = stdinBuf.indexOf('\n')) >= 0) {
                const QString line = QString::fromLocal8Bit(stdinBuf.left(nl));
                stdinBuf.remove(0, nl + 1);
                run(line);
            }
        }
    }

    if (!opt.link.isEmpty())
        withdrawLink(opt.link, pty.slavePath());
    log(QStringLiteral("stopped"));
    if (logFile)
        std::fclose(logFile);
    return 0;
}
