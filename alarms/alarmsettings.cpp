#include "alarms/alarmsettings.h"

#include <QFile>
#include <QSaveFile>
#include <stdexcept>
#include <string>

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

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
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return s;
    QByteArray data = f.readAll();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    CSimpleIniA ini;
    ini.SetUnicode(true);
    if (ini.LoadData(data.constData(), size_t(data.size())) < 0)
        return s;
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
    QByteArray original;
    QFile in(path);
    if (in.exists()) {
        if (!in.open(QIODevice::ReadOnly))
            fail(in.errorString());
        original = in.readAll();
    }
    if (original.contains('\0'))
        fail(QStringLiteral("plik zawiera bajt zerowy"));
    const bool signature = original.startsWith("\xEF\xBB\xBF");
    if (signature)
        original.remove(0, 3);
    CSimpleIniA ini;
    ini.SetUnicode(true);
    ini.SetSpaces(false);
    if (ini.LoadData(original.constData(), size_t(original.size())) < 0)
        fail(QStringLiteral("nie można odczytać pliku"));
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
