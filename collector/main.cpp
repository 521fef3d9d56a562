// qta504d: the collector. Runs the link, the tables and the alarms of every
// controller its configuration names, without windows, until SIGTERM or
// SIGINT; SIGHUP reads the configuration again. With --user it edits the
// console's users file instead and exits.
#include "collector/collector.h"
#include "collector/collectorlog.h"
#include "collector/usercommand.h"
#include "core/version.h"
#include "modbus/registermap.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

// Only the signal's number crosses the pipe; the event loop does the work.
void onSignal(int sig) {
    const char c = char(sig);
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char** argv) {
    std::signal(SIGXFSZ, SIG_IGN); // a write past the file-size limit fails with EFBIG
    QCoreApplication app(argc, argv);
    // The name in the data folders' lock files, by which the desktop program
    // knows a collector holds a folder.
    QCoreApplication::setApplicationName(qta::TControllerUnit::lockAppName());
    QCoreApplication::setApplicationVersion(qta::programVersion());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kolektor QTA-504: obsługa wielu sterowników SZR bez okien."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("plik konfiguracji (domyślnie /etc/qta504/collector.ini)"),
        QStringLiteral("plik"), QStringLiteral("/etc/qta504/collector.ini"));
    parser.addOption(config);
    const QCommandLineOption modbusMap(
        QStringLiteral("modbus-map"),
        QStringLiteral("wypisuje mapę rejestrów Modbus (CSV) i kończy pracę"));
    parser.addOption(modbusMap);
    const QCommandLineOption user(
        QStringLiteral("user"),
        QStringLiteral("użytkownicy konsoli: add, passwd, role, del NAZWA albo list; hasło z "
                       "terminala lub pierwszego wiersza standardowego wejścia"),
        QStringLiteral("działanie"));
    const QCommandLineOption role(QStringLiteral("role"),
                                  QStringLiteral("rola przy add i role: viewer, operator, admin"),
                                  QStringLiteral("rola"));
    parser.addOptions({user, role});
    parser.addPositionalArgument(QStringLiteral("nazwa"),
                                 QStringLiteral("użytkownik konsoli (z --user)"), {});
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "qta504d: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(modbusMap)) {
        const QByteArray csv = qta::modbus::registerMapCsv();
        return std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) == size_t(csv.size())
                   ? 0
                   : 1;
    }
    const QString configPath = parser.value(config);
    const QStringList names = parser.positionalArguments();
    if (parser.isSet(user) && names.size() <= 1)
        return qta::runUserCommand(configPath, parser.value(user), names.value(0),
                                   parser.value(role));
    if (parser.isSet(user) || parser.isSet(role) || !names.isEmpty()) {
        std::fprintf(stderr, "qta504d: %s\n",
                     parser.isSet(user) ? "--user przyjmuje jedną nazwę użytkownika"
                                        : "--role i nazwa użytkownika tylko z --user");
        return 2;
    }

    qta::TCollector collector;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        qta::collectorLog(qta::LogLevel::Error, {},
                          QStringLiteral("nie można przygotować obsługi sygnałów"));
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &collector, [&] {
        char c = 0;
        if (::read(signalPipe[0], &c, 1) != 1)
            return;
        if (c == SIGHUP) {
            qta::collectorLog(qta::LogLevel::Notice, {},
                              QStringLiteral("SIGHUP: czytam konfigurację %1").arg(configPath));
            collector.reload(qta::readCollectorConfig(configPath));
            return;
        }
        qta::collectorLog(qta::LogLevel::Notice, {}, QStringLiteral("kończę pracę"));
        collector.stopAll();
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    const qta::TCollectorConfig cfg = qta::readCollectorConfig(configPath);
    const int running = collector.start(cfg);
    if (running == 0) {
        qta::collectorLog(qta::LogLevel::Error, {},
                          cfg.controllers.isEmpty()
                              ? QStringLiteral("brak sterowników do obsługi w %1").arg(configPath)
                              : QStringLiteral("żaden sterownik z %1 nie mógł zostać uruchomiony")
                                    .arg(configPath));
        return 2;
    }
    qta::collectorLog(
        qta::LogLevel::Info, {},
        QStringLiteral("pracuje, sterowników: %1, konfiguracja %2").arg(running).arg(configPath));
    return QCoreApplication::exec();
}
