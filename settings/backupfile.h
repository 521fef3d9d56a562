// A settings editor's copy in a human-readable file and back: INI text, one
// section, one key per field the editor sends, the controller's identifier
// and the date in comments. Values read back are judged exactly as typed
// ones; nothing here talks to the controller.
#pragma once

#include "link/model.h"
#include "settings/editorfields.h"

#include <QDateTime>
#include <QStringList>
#include <stdexcept>

namespace qta {

// A file that cannot be written or read, with a Polish message.
class EBackup : public std::runtime_error {
public:
    explicit EBackup(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// The file's text.
QString backupText(const QString& section, const QString& title,
                   const std::vector<TFieldDesc>& fields, const TKonf& konf,
                   const QString& controllerId, const QDateTime& when);

// Writes the text atomically (a failed write leaves an existing file as it was).
void writeBackup(const QString& path, const QString& section, const QString& title,
                 const std::vector<TFieldDesc>& fields, const TKonf& konf,
                 const QString& controllerId, const QDateTime& when = QDateTime::currentDateTime());

struct TBackupLoad {
    TKonf konf;          // the copy with every accepted value in it
    QStringList refused; // "N1_U_Min = 301: poza zakresem 60–300"
    QStringList unknown; // keys no field has
    QStringList missing; // fields the file does not hold (left as they were)
    bool hasProblems() const { return !refused.isEmpty() || !unknown.isEmpty(); }
    // One Polish message naming what was not taken, or empty.
    QString message() const;
};

// Applies the file's values to `start`. Decimal values may be written with a
// point or a comma. Raises EBackup when the file cannot be read or lacks the
// section.
TBackupLoad readBackup(const QString& path, const QString& section,
                       const std::vector<TFieldDesc>& fields, const TKonf& start);
// The same on text already read.
TBackupLoad parseBackup(const QString& text, const QString& section,
                        const std::vector<TFieldDesc>& fields, const TKonf& start);

} // namespace qta
