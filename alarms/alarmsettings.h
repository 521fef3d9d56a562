// What the user chose about alarms, kept in section [Alarmy] of the settings
// file (rejestr/ustawienia.ini): which alarms are on, the sound, the flicker
// delay. Missing keys take the defaults (everything on, sound on, 5 s).
#pragma once

#include "alarms/alarm.h"

#include <QString>
#include <QStringList>
#include <map>

namespace qta {

struct TAlarmSettings {
    std::map<AlarmKind, bool> enabled; // a kind missing here is on
    bool sound = true;
    // A condition that clears and comes back within this many seconds stays
    // one alarm: "Ustąpił" is written only once it has stayed clear this long.
    int flickerSeconds = 5;
    static constexpr int kMaxFlickerSeconds = 600;

    bool isEnabled(AlarmKind k) const {
        const auto it = enabled.find(k);
        return it == enabled.end() || it->second;
    }
    bool operator==(const TAlarmSettings& o) const {
        for (const TAlarmKindInfo& k : alarmKinds())
            if (isEnabled(k.kind) != o.isEnabled(k.kind))
                return false;
        return sound == o.sound && flickerSeconds == o.flickerSeconds;
    }

    // Reads section [Alarmy] of `path`. A missing file or section gives the
    // defaults; a value that cannot be used keeps its default and is named in
    // `problems` (Polish, one entry per key).
    static TAlarmSettings load(const QString& path, QStringList* problems = nullptr);
    // Rewrites section [Alarmy] of `path`, keeping every other section and
    // comment; written to a temporary file and renamed. Raises
    // std::runtime_error with a Polish message on failure.
    void save(const QString& path) const;
};

} // namespace qta
