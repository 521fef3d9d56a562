// The tables this program makes: their fields, and an installation's tables
// made together so that a power loss leaves either all of them or a folder
// the program's first start completes (see createPair).
#include "tables/table.h"
#include "tables/tablefile.h"

#include <QFileInfo>
#include <QStringList>

namespace qta {

using namespace dbf;

namespace {

std::vector<FieldDef> rejestrFields() {
    std::vector<FieldDef> fields = {
        {"INDEKS", 'N', 5},     {"DATA", 'C', 11},   {"CZAS", 'C', 5},
        {"ZDARZENIE", 'C', 80}, {"UWAGI", 'C', 254},
    };
    static const char* const kLines[3][7] = {
        {"N1_STATUS", "N1L1_UMIN", "N1L2_UMIN", "N1L3_UMIN", "N1L1_UMAX", "N1L2_UMAX", "N1L3_UMAX"},
        {"N2_STATUS", "N2L1_UMIN", "N2L2_UMIN", "N2L3_UMIN", "N2L1_UMAX", "N2L2_UMAX", "N2L3_UMAX"},
        {"N3_STATUS", "N3L1_UMIN", "N3L2_UMIN", "N3L3_UMIN", "N3L1_UMAX", "N3L2_UMAX", "N3L3_UMAX"},
    };
    for (const auto& line : kLines) {
        fields.push_back({line[0], 'C', 30});
        for (int i = 1; i < 7; ++i)
            fields.push_back({line[i], 'C', 5});
    }
    fields.push_back({"AKTYWNA", 'C', 21});
    fields.push_back({"PROGRAM", 'C', 12});
    return fields;
}

std::vector<FieldDef> liniaFields() {
    return {{"CZAS", 'T', 8}, {"N1L1", 'N', 5}, {"N1L2", 'N', 5}, {"N1L3", 'N', 5},
            {"N2L1", 'N', 5}, {"N2L2", 'N', 5}, {"N2L3", 'N', 5}, {"N3L1", 'N', 5},
            {"N3L2", 'N', 5}, {"N3L3", 'N', 5}};
}

std::vector<FieldDef> alarmyFields() {
    return {{"CZAS", 'T', 8},  {"ALARM", 'C', 80}, {"PRIORYTET", 'C', 8},
            {"STAN", 'C', 20}, {"KTO", 'C', 32},   {"UWAGI", 'C', 254}};
}

} // namespace

void TTable::createRejestr(const QString& fileName) { createTable(fileName, rejestrFields()); }

void TTable::createLinia(const QString& fileName) { createTable(fileName, liniaFields()); }

void TTable::createAlarmy(const QString& fileName) { createTable(fileName, alarmyFields()); }

// Every table is made whole under a temporary name first. The names then
// appear in an order a power loss cannot turn into a folder the program
// refuses: the voltage table and the alarm journal first, their folder
// synced, the event table last. A folder with rejestr.dbf therefore has all
// of them; one without it holds at most empty tables, which the first start
// makes again (prepareWorkFolder).
void TTable::createPair(const QString& rejestrFile, const QString& liniaFile,
                        const QString& alarmyFile) {
    std::vector<QString> temporary;
    std::vector<QString> named;
    const auto undo = [&] {
        for (const QString& f : temporary)
            removeFile(f);
        for (const QString& f : named)
            removeFile(f);
    };
    try {
        temporary.push_back(prepareTable(liniaFile, liniaFields()));
        if (!alarmyFile.isEmpty())
            temporary.push_back(prepareTable(alarmyFile, alarmyFields()));
        temporary.push_back(prepareTable(rejestrFile, rejestrFields()));
        std::vector<QString> names = {liniaFile};
        if (!alarmyFile.isEmpty())
            names.push_back(alarmyFile);
        names.push_back(rejestrFile);
        for (size_t i = 0; i < names.size(); ++i) {
            if (i + 1 == names.size()) {
                // The others are there for good before the last one appears.
                QStringList folders;
                for (const QString& f : named)
                    if (!folders.contains(QFileInfo(f).absolutePath()))
                        folders << QFileInfo(f).absolutePath();
                for (const QString& folder : folders)
                    syncFolder(folder);
            }
            commitTable(temporary[i], names[i]);
            temporary[i].clear();
            named.push_back(names[i]);
        }
        syncFolder(QFileInfo(rejestrFile).absolutePath());
    } catch (...) {
        undo();
        throw;
    }
}

} // namespace qta
