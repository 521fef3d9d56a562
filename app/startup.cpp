#include "app/startup.h"

#include "core/version.h"

#include <QCommandLineParser>

namespace qta {

TStartOptions parseStartOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Nadzór i konfiguracja sterownika SZR QTA-504 przez łącze szeregowe."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("pokazuje tę pomoc i kończy pracę"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("pokazuje wersję programu i kończy pracę"));
    const QCommandLineOption workDir(
        {QStringLiteral("d"), QStringLiteral("work-dir")},
        QStringLiteral("katalog roboczy z podkatalogiem rejestr/ (tabele i ustawienia); "
                       "bez tej opcji: bieżący katalog, jeśli ma podkatalog rejestr/, "
                       "w przeciwnym razie katalog danych użytkownika "
                       "($XDG_DATA_HOME/qta504, domyślnie ~/.local/share/qta504)"),
        QStringLiteral("katalog"));
    const QCommandLineOption demoPanel(
        QStringLiteral("demo-panel"),
        QStringLiteral("pokazuje pozycję menu Demo (panel demonstracyjny)"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(workDir);
    parser.addOption(demoPanel);

    TStartOptions o;
    const bool ok = parser.parse(arguments);
    // Help and version answer even beside a mistake elsewhere on the line.
    if (parser.isSet(help)) {
        o.action = TStartOptions::Action::Help;
        o.text = parser.helpText();
        return o;
    }
    if (parser.isSet(version)) {
        o.action = TStartOptions::Action::Version;
        o.text = QStringLiteral("qta504 ") + programVersion() + u'\n';
        return o;
    }
    if (!ok) {
        o.action = TStartOptions::Action::Error;
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            o.text = QStringLiteral("Nieznana opcja: %1")
                         .arg((unknown.constFirst().size() == 1 ? QStringLiteral("-")
                                                                : QStringLiteral("--")) +
                              unknown.constFirst());
        else // the one option that takes a value came without it
            o.text = QStringLiteral("Opcja --work-dir wymaga nazwy katalogu");
        return o;
    }
    if (!parser.positionalArguments().isEmpty()) {
        o.action = TStartOptions::Action::Error;
        o.text = QStringLiteral("Nieoczekiwany argument: %1 (katalog roboczy podaje się opcją "
                                "--work-dir)")
                     .arg(parser.positionalArguments().constFirst());
        return o;
    }
    if (parser.isSet(workDir)) {
        o.workDir = parser.value(workDir);
        if (o.workDir.isEmpty()) {
            o.action = TStartOptions::Action::Error;
            o.text = QStringLiteral("Opcja --work-dir wymaga nazwy katalogu");
            return o;
        }
    }
    o.demoPanel = parser.isSet(demoPanel);
    return o;
}

} // namespace qta
