// What the data folder knows of its controller: rejestr/sterownik.ini holds
// the identifier, configuration and customisation as the controller last
// reported them, in the format of the editors' backup files (both sections
// in one file). The core rewrites it after every complete read; the report
// reads it, or a backup file written by "Zapisz…", to show the settings.
//
// Reading takes the values as they stand: a controller may hold values the
// editors would not let anyone type (a program the list does not offer), and
// a report must show what is there, not what an editor would accept.
#pragma once

#include "link/model.h"
#include "settings/backupfile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace qta {

// The file's name under rejestr/.
inline const QString kControllerFileName = QStringLiteral("sterownik.ini");

// Both sections' text: [Konfiguracja] and [Dostosuj].
QString controllerFileText(const TKonf& konf, const QString& controllerId, const QDateTime& when);

// Writes the file atomically (a failed write leaves the previous one as it
// was); raises EBackup with a Polish message.
void writeControllerFile(const QString& path, const TKonf& konf, const QString& controllerId,
                         const QDateTime& when = QDateTime::currentDateTime());

// A settings file as read for showing: sterownik.ini or an editor's backup.
struct TSettingsFile {
    QString path;
    QString controllerId; // from the "; Sterownik:" comment; empty when unknown
    QDateTime saved;      // from the "; Zapisano:" comment; invalid when absent
    TKonf konf;           // the values of the sections present
    bool hasConfig = false;
    bool hasCustom = false;
    QStringList unknown; // keys no field has
    QStringList missing; // keys of a present section the file lacks (left at 0)
};

// Raises EBackup when the file cannot be read, holds neither section, or a
// value of a known key is not a number.
TSettingsFile readSettingsFile(const QString& path);
TSettingsFile parseSettingsFile(const QString& text, const QString& path);

} // namespace qta
