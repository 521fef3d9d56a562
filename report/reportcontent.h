// The report's text: the gathered data turned into the blocks of its pages,
// in Polish, with the settings named and shown as the editors show them.
#pragma once

#include "report/reportdata.h"
#include "report/reportdocument.h"
#include "settings/editorfields.h"

namespace qta {

TReportDocument reportDocument(const TReportData& d);

// One setting as the report lists it: the editors' name without the unit,
// the value with its unit ("U_Min linii N1", "180 V"; "T On, czas uzbrajania
// aparatu", "2,5 s"; "Typ aparatów", "Rozłączniki").
QStringList settingRow(const TFieldDesc& f, const TKonf& konf);

// The settings in the groups the report and the site console show them in:
// the configuration editor's fields in four groups, then the customisation's.
struct TSettingsGroup {
    QString title;
    bool custom = false; // customFields(), otherwise configFields()
    std::vector<const char*> components;
};
const std::vector<TSettingsGroup>& settingsGroups();

// "1 strona", "3 strony", "12 stron": the number with the noun's form for it.
QString polishCount(qint64 n, const char* one, const char* few, const char* many);

// "2024-03-01 – 2024-03-31".
QString periodText(const QDate& from, const QDate& to);

} // namespace qta
