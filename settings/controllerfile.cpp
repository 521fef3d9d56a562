#include "settings/controllerfile.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>

namespace qta {

namespace {
const QString kConfigSection = QStringLiteral("Konfiguracja");
const QString kCustomSection = QStringLiteral("Dostosuj");

const TFieldDesc* fieldByKey(const std::vector<TFieldDesc>& fields, const QString& key) {
    for (const TFieldDesc& f : fields)
        if (f.key.compare(key, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}
} // namespace

QString controllerFileText(const TKonf& konf, const QString& controllerId, const QDateTime& when) {
    return backupText(kConfigSection, QStringLiteral("Konfiguracja sterownika QTA-504"),
                      configFields(), konf, controllerId, when) +
           u'\n' +
           backupText(kCustomSection, QStringLiteral("Dostosowanie sterownika QTA-504"),
                      customFields(), konf, controllerId, when);
}

void writeControllerFile(const QString& path, const TKonf& konf, const QString& controllerId,
                         const QDateTime& when) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        throw EBackup(QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, f.errorString()));
    f.write(controllerFileText(konf, controllerId, when).toUtf8());
    if (!f.commit())
        throw EBackup(QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, f.errorString()));
}

TSettingsFile parseSettingsFile(const QString& text, const QString& path) {
    TSettingsFile r;
    r.path = path;
    const std::vector<TFieldDesc>* fields = nullptr;
    QStringList seen;
    int lineNo = 0;
    for (QString line : text.split(u'\n')) {
        ++lineNo;
        line = line.trimmed();
        if (line.startsWith(u'\uFEFF'))
            line.remove(0, 1);
        if (line.isEmpty())
            continue;
        if (line.startsWith(u';') || line.startsWith(u'#')) {
            // The comments of the first section name the controller and the date.
            const QString c = line.mid(1).trimmed();
            if (c.startsWith(QStringLiteral("Sterownik:")) && r.controllerId.isEmpty()) {
                const QString id = c.mid(10).trimmed();
                if (id != QStringLiteral("(nieznany)"))
                    r.controllerId = id;
            } else if (c.startsWith(QStringLiteral("Zapisano:")) && !r.saved.isValid()) {
                r.saved = QDateTime::fromString(c.mid(9).trimmed(),
                                                QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            }
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            fields = nullptr;
            if (name.compare(kConfigSection, Qt::CaseInsensitive) == 0) {
                fields = &configFields();
                r.hasConfig = true;
            } else if (name.compare(kCustomSection, Qt::CaseInsensitive) == 0) {
                fields = &customFields();
                r.hasCustom = true;
            }
            continue;
        }
        if (!fields)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        const TFieldDesc* f = fieldByKey(*fields, key);
        if (!f) {
            r.unknown << key;
            continue;
        }
        bool ok = false;
        QString number = value;
        number.replace(u',', u'.');
        const double v = QLocale::c().toDouble(number, &ok);
        if (!ok)
            throw EBackup(QStringLiteral("Plik %1, wiersz %2: wartość klucza %3 („%4”) nie jest "
                                         "liczbą")
                              .arg(path)
                              .arg(lineNo)
                              .arg(f->key, value));
        f->set(r.konf, v);
        seen << f->key;
    }
    if (!r.hasConfig && !r.hasCustom)
        throw EBackup(QStringLiteral("Plik %1 nie zawiera sekcji [%2] ani [%3]: to nie jest plik "
                                     "ustawień sterownika")
                          .arg(path, kConfigSection, kCustomSection));
    const auto missing = [&](const std::vector<TFieldDesc>& fs) {
        for (const TFieldDesc& f : fs)
            if (!seen.contains(f.key))
                r.missing << f.key;
    };
    if (r.hasConfig)
        missing(configFields());
    if (r.hasCustom)
        missing(customFields());
    return r;
}

TSettingsFile readSettingsFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        throw EBackup(QStringLiteral("Nie można odczytać pliku %1: %2").arg(path, f.errorString()));
    return parseSettingsFile(QString::fromUtf8(f.readAll()), path);
}

} // namespace qta
