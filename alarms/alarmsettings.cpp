#include "alarms/alarmsettings.h"
#include "tables/inifile.h"

#include <QSaveFile>
#include <stdexcept>
#include <string>

namespace qta {

namespace {
constexpr const char* kSection = "Alarmy";
constexpr const char* kSound = "Dzwiek";
constexpr const char* kFlicker = "OpoznienieMigotania";

// "1"/"0" as written; also the words people type by hand.
std::optional<bool> parseBool(const QString& v) {
    const QString t = v.trimmed().toLower();
    if (t == u"1" || t == u"tak" || t == u"true" || t == u"on")
        return true;
    if (t == u"0" || t == u"nie" || t == u"false" || t == u"off")
        return false;
    return std::nullopt;
}
} // namespace

TAlarmSettings TAlarmSettings::load(const QString& path, QStringList* problems) {
    TAlarmSettings s;
    CSimpleIniA ini;
    const TIniFile file = readIniFile(path, ini);
    if (!file.ok()) {
        // No file: the defaults, as on a first start. A file that is there but
        // cannot be read is said, or the user's settings would be ignored
        // without a word.
        if (file.status == TIniFile::Failed && problems)
            *problems << file.reason + QStringLiteral("; przyjęto ustawienia domyślne");
        return s;
    }
    const auto value = [&ini](const char* key) -> std::optional<QString> {
        const char* v = ini.GetValue(kSection, key, nullptr);
        if (!v)
            return std::nullopt;
        return QString::fromUtf8(v);
    };
    const auto complain = [problems](const char* key, const QString& v, const QString& why) {
        if (problems)
            *problems << QStringLiteral("[Alarmy] %1=%2: %3").arg(QLatin1String(key), v, why);
    };
    for (const TAlarmKindInfo& k : alarmKinds()) {
        if (const auto v = value(k.settingsKey)) {
            if (const auto b = parseBool(*v))
                s.enabled[k.kind] = *b;
            else
                complain(k.settingsKey, *v, QStringLiteral("oczekiwano 1 albo 0; alarm włączony"));
        }
    }
    if (const auto v = value(kSound)) {
        if (const auto b = parseBool(*v))
            s.sound = *b;
        else
            complain(kSound, *v, QStringLiteral("oczekiwano 1 albo 0; dźwięk włączony"));
    }
    if (const auto v = value(kFlicker)) {
        bool ok = false;
        const int n = v->trimmed().toInt(&ok);
        if (ok && n >= 0 && n <= kMaxFlickerSeconds)
            s.flickerSeconds = n;
        else
            complain(kFlicker, *v,
                     QStringLiteral("oczekiwano liczby sekund od 0 do %1; przyjęto %2")
                         .arg(kMaxFlickerSeconds)
                         .arg(s.flickerSeconds));
    }
    return s;
}

void TAlarmSettings::save(const QString& path) const {
    const auto fail = [&path](const QString& why) {
        throw std::runtime_error(
            QStringLiteral("Nie zapisano ustawień alarmów w %1: %2").arg(path, why).toStdString());
    };
    // The rest of the file (other sections, comments) is kept: read it first.
    // A missing file is written anew.
    CSimpleIniA ini;
    const TIniFile file = readIniFile(path, ini);
    if (file.status == TIniFile::Failed)
        fail(file.reason);
    const bool signature = file.signature;
    ini.SetSpaces(false);
    for (const TAlarmKindInfo& k : alarmKinds())
        ini.SetValue(kSection, k.settingsKey, isEnabled(k.kind) ? "1" : "0");
    ini.SetValue(kSection, kSound, sound ? "1" : "0");
    ini.SetValue(kSection, kFlicker, std::to_string(flickerSeconds).c_str());
    std::string text;
    if (ini.Save(text, false) < 0)
        fail(QStringLiteral("błąd składania pliku"));
    QByteArray bytes = signature ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    bytes += QByteArray::fromStdString(text);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        fail(out.errorString());
}

} // namespace qta
