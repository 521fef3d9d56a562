// What a commissioning and service report holds, gathered from a data folder
// without any window: the controller's settings (rejestr/sterownik.ini or a
// backup file), the event log and the alarm journal of a period, the index of
// the voltage history for the charts, and the summary. The drawing lives in
// report/reportpdf.*; this part is plain data and can be tested headless.
#pragma once

#include "history/lineindex.h"
#include "link/model.h"
#include "report/reportsummary.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace qta {

// A report that cannot be made, with a Polish message naming the cause.
class EReport : public std::runtime_error {
public:
    explicit EReport(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// Which parts the report holds (the title page always).
struct TReportSections {
    bool configuration = true;
    bool events = true;
    bool alarms = true;
    bool charts = true;
    bool summary = true;
};

struct TReportRequest {
    QString dataDir;               // the folder that holds rejestr/
    std::optional<QDate> from, to; // open ends: the first and last day with data
    QString backupFile;            // empty: rejestr/sterownik.ini
    TReportSections sections;
    QString user;   // empty: the user running the program
    QDateTime made; // invalid: now
};

struct TReportEvent {
    QString date; // "2024-03-05" as the log holds it
    QString time; // "09:05"
    QDateTime when;
    QString text;
    std::array<QString, 3> states; // N1_STATUS .. N3_STATUS
    QString remark;
};

struct TReportAlarm {
    QDateTime when;
    QString alarm, priority, state, who, remark;
};

struct TReportData {
    QDate from, to; // the period, both days included
    QDateTime made;
    QString user;
    QString version;
    QString dataDir;

    // Settings: where they came from, and whether each part is known.
    QString controllerId; // empty when unknown
    TKonf konf;
    bool hasConfig = false;
    bool hasCustom = false;
    QString configSource, customSource; // Polish: "odczyt ze sterownika 2024-03-05 10:12"
    QStringList settingsNotes;          // keys left out or unknown

    std::vector<TReportEvent> events; // of the period, in log order
    qint64 logRows = 0;               // rows in the whole log
    bool alarmJournal = false;        // alarmy.dbf exists
    std::vector<TReportAlarm> alarms; // of the period, in journal order

    std::shared_ptr<const TLineIndex> index; // the voltage history
    TWallMs t0 = 0, t1 = 0;                  // the period as wall time, [t0, t1)
    std::vector<int> lines;                  // lines in use: charts and extremes
    TReportSummary summary;

    TReportSections sections;
    // The program's name of line n ("N1", "generator").
    QString lineTitle(int line) const;
};

// Raises EReport for a missing folder or table, a period that ends before it
// starts, or a settings file that cannot be read.
TReportData gatherReport(const TReportRequest& request);

// The period as wall time: from the first day's midnight to the midnight
// after the last day.
TWallMs wallMidnight(const QDate& day);

} // namespace qta
