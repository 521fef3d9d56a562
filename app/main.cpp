// Program start: the command line, the working folder, application title, one
// copy per working directory, the main window, orderly close on SIGTERM and SIGINT.
#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/wiring.h"
#include "artwork/artwork.h"
#include "core/version.h"
#include "core/workfolder.h"

#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Stops the program before its main window exists, with the reason on
// standard error and, where there is a screen to show it on, in a message box.
int refuseStart(const QString& text, int code) {
    std::fprintf(stderr, "qta504: %s\n", qPrintable(text));
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QMessageBox::critical(nullptr, QStringLiteral("QTA-504"), text);
    return code;
}
} // namespace

int main(int argc, char** argv) {
    // A write past the file-size limit fails with EFBIG and is reported like a
    // full disk, instead of ending the program; that holds for every write,
    // the window system's own caches included, so it is set before anything.
    std::signal(SIGXFSZ, SIG_IGN);
    // The command line is read before the window system is touched, so that
    // --help and --version answer where there is no display.
    qta::TStartOptions options;
    {
        QCoreApplication probe(argc, argv);
        options = qta::parseStartOptions(QCoreApplication::arguments());
    }
    if (options.action == qta::TStartOptions::Action::Help ||
        options.action == qta::TStartOptions::Action::Version) {
        std::fputs(qPrintable(options.text), stdout);
        return 0;
    }

    qta::TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QTA-504"));
    QApplication::setApplicationDisplayName(QStringLiteral("QTA-504"));
    QApplication::setApplicationVersion(qta::programVersion());
    // The window system takes its own options (-platform, -style ...) out of
    // the arguments; what is left must be ours.
    if (options.action == qta::TStartOptions::Action::Error)
        options = qta::parseStartOptions(QApplication::arguments());
    if (options.action == qta::TStartOptions::Action::Error) {
        std::fprintf(stderr, "qta504: %s\nqta504 --help opisuje opcje.\n",
                     qPrintable(options.text));
        return 2;
    }

    const qta::TWorkFolder folder = qta::chooseWorkFolder(options.workDir, QDir::currentPath(),
                                                          QProcessEnvironment::systemEnvironment());
    if (!folder.error.isEmpty() || !QDir::setCurrent(folder.path))
        return refuseStart(
            folder.error.isEmpty()
                ? QStringLiteral("Nie można przejść do katalogu roboczego %1").arg(folder.path)
                : folder.error,
            4);
    qta::initArtwork();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/artwork/qta504.svg")));
    // Ties the windows to the desktop menu entry (its icon and name in task bars).
    QGuiApplication::setDesktopFileName(QStringLiteral("qta504"));

    // The tables allow one writer: one copy of the program per working directory.
    QLockFile lock(QDir::current().absoluteFilePath(QStringLiteral(".qta504.lock")));
    lock.setStaleLockTime(0);
    const qta::TFolderAccess access = qta::lockWorkFolder(lock);
    if (access.mode == qta::TFolderAccess::Mode::Refused) {
        const QString text =
            QStringLiteral("Program QTA-504 jest już uruchomiony w tym katalogu roboczym (%1). "
                           "Drugiej kopii nie uruchomiono, bo tabele rejestru przyjmują tylko "
                           "jednego piszącego.")
                .arg(QDir::currentPath());
        return refuseStart(text, 3);
    }

    // Test and demo seam: the ports the start window scans, instead of the
    // system's list (so that a test never touches a real serial port).
    const QString portList = qEnvironmentVariable("QTA504_PORT_LIST");
    if (qEnvironmentVariableIsSet("QTA504_PORT_LIST")) {
        const QStringList ports = portList.split(QLatin1Char(':'), Qt::SkipEmptyParts);
        qta::TComPort::setPortListProvider([ports] { return ports; });
    }

    qta::TQTA504 main;
    qta::wireWindows(main);
    // --demo-panel: the "Demo" item of the "Pomoc" menu, hidden otherwise.
    main.setDemoPanelAvailable(options.demoPanel);

    // SIGTERM and SIGINT close the program exactly like closing the main window.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &main);
        QObject::connect(notifier, &QSocketNotifier::activated, &main, [&main] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
            main.close();
            // An open message box (an error report, the About box) would keep
            // the program running with the main window gone: end it anyway.
            QApplication::quit();
        });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }
    // Maximised; without a window manager (Xvfb) that is the screen's size.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        main.setGeometry(screen->availableGeometry());
    main.showMaximized();
    if (access.mode == qta::TFolderAccess::Mode::ReadOnly) {
        // The collector writes this folder: its history is shown, never written.
        const QString notice = qta::readOnlyNotice(access);
        std::fprintf(stderr, "qta504: %s\n", qPrintable(notice));
        main.FormCreateReadOnly(notice);
    } else {
        main.FormCreate();
    }
    if (!folder.notice.isEmpty()) {
        // Said once, on the run that made the folder; the panels come back after it.
        std::fprintf(stderr, "qta504: %s\n", qPrintable(folder.notice));
        main.statusBar()->showMessage(folder.notice, 15000);
    }
    return QApplication::exec();
}
