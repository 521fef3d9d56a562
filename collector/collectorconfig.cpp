#include "collector/collectorconfig.h"
#include "mqtt/mqttpayload.h"
#include "tables/inifile.h"
#include "web/users.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

namespace qta {

namespace {

bool reserved(const QString& section) {
    return section.compare(QLatin1String("collector"), Qt::CaseInsensitive) == 0 ||
           section.compare(QLatin1String("mqtt"), Qt::CaseInsensitive) == 0 ||
           section.compare(QLatin1String("modbus"), Qt::CaseInsensitive) == 0 ||
           section.compare(QLatin1String("email"), Qt::CaseInsensitive) == 0 ||
           section.compare(QLatin1String("web"), Qt::CaseInsensitive) == 0;
}

QString value(const CSimpleIniA& ini, const QString& section, const char* key) {
    const char* v = ini.GetValue(section.toUtf8().constData(), key, nullptr);
    return v ? QString::fromUtf8(v).trimmed() : QString();
}

// The same folder however it is written: through its real path once it exists.
QString folderKey(const QString& folder) {
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

TCollectorConfig readCollectorConfig(const QString& path) {
    TCollectorConfig c;
    CSimpleIniA ini;
    const TIniFile file = readIniFile(path, ini);
    if (file.status == TIniFile::Missing) {
        c.errors << QStringLiteral("brak pliku konfiguracji %1").arg(path);
        return c;
    }
    if (!file.ok()) {
        c.errors << file.error;
        return c;
    }
    c.readable = true;

    const QDir base = QFileInfo(path).absoluteDir();
    QString dataRoot = value(ini, QStringLiteral("collector"), "DataRoot");
    if (!dataRoot.isEmpty())
        dataRoot = QDir::cleanPath(base.absoluteFilePath(dataRoot));

    c.mqtt =
        mqtt::mqttSettings([&](const char* key) { return value(ini, QStringLiteral("mqtt"), key); },
                           base.absolutePath(), c.errors);
    c.email = email::emailSettings(
        [&](const char* key) { return value(ini, QStringLiteral("email"), key); },
        base.absolutePath(), c.errors);
    c.dataRoot = dataRoot.isEmpty() ? base.absolutePath() : dataRoot;

    c.modbus = modbus::modbusSettings(
        ini.GetSection("modbus") != nullptr,
        [&](const char* key) { return value(ini, QStringLiteral("modbus"), key); }, c.errors);

    c.web = web::webSettings(
        ini.GetSection("web") != nullptr,
        [&](const char* key) { return value(ini, QStringLiteral("web"), key); },
        base.absolutePath(), c.errors);
    c.web.stateDir = dataRoot.isEmpty() ? base.absolutePath() : dataRoot;
    c.web.usersFile = web::TUsersFile::besideConfig(path);

    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    QList<TControllerEntry> candidates;
    int position = 0;
    for (const auto& s : sections) {
        const QString name = QString::fromUtf8(s.pItem).trimmed();
        if (reserved(name))
            continue;
        ++position;
        if (name.isEmpty() || name.contains(QLatin1Char(':')) || name.contains(QLatin1Char('\n'))) {
            c.errors << QStringLiteral("[%1]: nazwa sekcji nie nadaje się na nazwę sterownika")
                            .arg(name);
            continue;
        }
        TControllerEntry e;
        e.name = name;
        e.port = value(ini, name, "Port");
        e.id = value(ini, name, "Id");
        // The unit identifier: given, or the section's place among the
        // controllers (a section refused below keeps its place, so that the
        // others' identifiers do not move).
        const QString unit = value(ini, name, "Jednostka");
        bool numeric = true;
        e.unit = unit.isEmpty() ? position : unit.toInt(&numeric);
        if (!numeric || e.unit < 1 || e.unit > 247) {
            c.errors << QStringLiteral("[%1]: Jednostka=%2 poza zakresem 1–247 (sterownik nie "
                                       "będzie widoczny przez Modbus)")
                            .arg(name, unit.isEmpty() ? QString::number(e.unit) : unit);
            e.unit = 0;
        }
        QString folder = value(ini, name, "Folder");
        if (e.port.isEmpty()) {
            c.errors << QStringLiteral("[%1]: brak Port=").arg(name);
            continue;
        }
        if (folder.isEmpty() && dataRoot.isEmpty()) {
            c.errors
                << QStringLiteral("[%1]: brak Folder= (i brak DataRoot= w [collector])").arg(name);
            continue;
        }
        if (folder.isEmpty())
            folder = name;
        e.folder =
            QDir::cleanPath((dataRoot.isEmpty() ? base : QDir(dataRoot)).absoluteFilePath(folder));
        candidates << e;
    }

    // Controllers that would share what must be theirs alone: neither runs.
    // One folder: they would fight over its tables. One identity (Id= or the
    // section's name): one device to a subscriber, their events mixed. One
    // topic level (names that differ only where MQTT topics cannot carry a
    // character): one set of topics.
    const auto refuseShared = [&c](const QList<TControllerEntry>& entries, auto keyOf,
                                   auto sharedText) {
        QMap<QString, QStringList> byKey;
        for (const TControllerEntry& e : entries)
            byKey[keyOf(e)] << e.name;
        QList<TControllerEntry> kept;
        for (const TControllerEntry& e : entries) {
            const QStringList& sharing = byKey[keyOf(e)];
            if (sharing.size() == 1)
                kept << e;
            else if (sharing.constFirst() == e.name)
                c.errors << QStringLiteral("sekcje [%1] mają %2: żadna nie zostanie uruchomiona")
                                .arg(sharing.join(QStringLiteral("], [")), sharedText(e));
        }
        return kept;
    };
    c.controllers = refuseShared(
        candidates, [](const TControllerEntry& e) { return folderKey(e.folder); },
        [](const TControllerEntry& e) { return QStringLiteral("ten sam folder ") + e.folder; });
    c.controllers = refuseShared(
        c.controllers, [](const TControllerEntry& e) { return e.key(); },
        [](const TControllerEntry& e) {
            return QStringLiteral("ten sam identyfikator %1 (Id= lub nazwa sekcji)").arg(e.key());
        });
    c.controllers = refuseShared(
        c.controllers, [](const TControllerEntry& e) { return mqtt::topicLevel(e.name); },
        [](const TControllerEntry& e) {
            return QStringLiteral("ten sam poziom tematów MQTT %1 (znaki spoza tematów "
                                  "zamienione na _)")
                .arg(mqtt::topicLevel(e.name));
        });

    // One unit identifier, two controllers: a Modbus master could not tell
    // them apart, so neither is served (both still run).
    QMap<int, QStringList> byUnit;
    for (const TControllerEntry& e : c.controllers)
        if (e.unit > 0)
            byUnit[e.unit] << e.name;
    for (TControllerEntry& e : c.controllers) {
        const QStringList& sharing = byUnit[e.unit];
        if (e.unit == 0 || sharing.size() == 1)
            continue;
        if (sharing.constFirst() == e.name)
            c.errors << QStringLiteral("sekcje [%1] mają tę samą Jednostka=%2 (jawnie lub z "
                                       "kolejności sekcji): żadna nie będzie widoczna przez Modbus")
                            .arg(sharing.join(QStringLiteral("], [")))
                            .arg(e.unit);
        e.unit = 0;
    }
    return c;
}

} // namespace qta
