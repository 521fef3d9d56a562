#include "web/passwordprompt.h"
#include "web/passwordhash.h"

#include <QByteArray>
#include <QList>
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace qta::web {

namespace {

// The terminal as it was, for the signal handler to put back.
struct termios savedTerminal;
volatile sig_atomic_t echoOff = 0;
struct sigaction oldActions[4];
constexpr int kSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreAndDie(int sig) {
    if (echoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Echo off for its lifetime (a newline is still echoed, so prompts do not run together).
class NoEcho {
public:
    NoEcho() {
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        struct sigaction sa {};
        sa.sa_handler = restoreAndDie;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < 4; ++i)
            ::sigaction(kSignals[i], &sa, &oldActions[i]);
        struct termios t = savedTerminal;
        t.c_lflag &= ~tcflag_t(ECHO);
        t.c_lflag |= ECHONL;
        echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &t) == 0;
        active_ = true;
    }
    ~NoEcho() {
        if (!active_)
            return;
        if (echoOff)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoOff = 0;
        for (int i = 0; i < 4; ++i)
            ::sigaction(kSignals[i], &oldActions[i], nullptr);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    bool active_ = false;
};

// One line of standard input, read a byte at a time so that nothing after it
// is taken; without its line end. nullopt at the end of input before any byte.
std::optional<QByteArray> readLine() {
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (line.isEmpty())
                return std::nullopt;
            break;
        }
        if (c == '\n')
            break;
        if (line.size() <= kMaxPasswordBytes) // more is refused below, not kept
            line += c;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

QString taken(std::optional<QByteArray>& bytes) {
    const QString s = QString::fromUtf8(*bytes);
    bytes->fill('\0');
    return s;
}

void prompt(const QString& text) {
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

QString newPasswordProblem(const QString& password) {
    const int characters = int(password.toUcs4().size());
    if (characters < kMinPasswordLength)
        return QStringLiteral("hasło musi mieć co najmniej %1 znaków (podano %2)")
            .arg(kMinPasswordLength)
            .arg(characters);
    if (password.toUtf8().size() > kMaxPasswordBytes)
        return QStringLiteral("hasło jest za długie (najwyżej %1 bajtów)").arg(kMaxPasswordBytes);
    for (const QChar c : password)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("hasło zawiera znak sterujący");
    return {};
}

std::optional<QString> readNewPassword(const QString& user, QString& error) {
    QString password;
    if (::isatty(STDIN_FILENO)) {
        NoEcho noEcho;
        prompt(QStringLiteral("Nowe hasło użytkownika %1: ").arg(user));
        std::optional<QByteArray> first = readLine();
        if (!first) {
            error = QStringLiteral("nie podano hasła");
            return std::nullopt;
        }
        prompt(QStringLiteral("Powtórz hasło: "));
        std::optional<QByteArray> second = readLine();
        const bool same = second && *second == *first;
        password = taken(first);
        if (second)
            second->fill('\0');
        if (!same) {
            error = QStringLiteral("hasła się różnią; nic nie zmieniono");
            return std::nullopt;
        }
    } else {
        std::optional<QByteArray> line = readLine();
        if (!line) {
            error = QStringLiteral("nie podano hasła (standardowe wejście jest puste)");
            return std::nullopt;
        }
        password = taken(line);
    }
    if (const QString p = newPasswordProblem(password); !p.isEmpty()) {
        error = p;
        return std::nullopt;
    }
    return password;
}

} // namespace qta::web
