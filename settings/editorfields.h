// The fields a settings editor edits and sends, one table per editor: the
// component that edits the field, its key in a backup file, what it is called
// in Polish, how an entry is judged, and how it is read from and written into
// a TKonf. The windows build their boxes and markers from these tables and the
// backup file reads and writes the same keys.
#pragma once

#include "link/model.h"
#include "settings/entryrule.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace qta {

struct TFieldDesc {
    enum Kind {
        Entry,  // an entry box judged by `rule`
        Choice, // a list or a marker: one of `choices`
    };
    Kind kind = Entry;
    QString component;        // "Edit1", "TypAparatu", "Znaczek_N1" ...
    QString key;              // key in a backup file
    QString spoken;           // Polish name with its unit: "U_Min linii N1 [V]"
    TEntryRule rule;          // Entry
    std::vector<int> choices; // Choice: the values a user can pick
    std::function<double(const TKonf&)> get;
    std::function<void(TKonf&, double)> set;

    bool accepts(int v) const;
};

// The configuration editor: Edit1..Edit15, TypAparatu, WyborTrybu,
// Linia_Glowna, Znaczek_N1..N3.
const std::vector<TFieldDesc>& configFields();
// The customisation editor: Kontrola_Edit, Podsw_Czas_Edit, Podsw_Jasn_Edit,
// Buczek_Czas and the four markers.
const std::vector<TFieldDesc>& customFields();

// The items of the editors' list `component` ("TypAparatu", "WyborTrybu",
// "Linia_Glowna") in their order; empty for any other component.
QStringList listItems(const QString& component);
// What the editors show for value `v` of a Choice field: the list's item
// ("Rozłączniki", "Linie N1 + N2 + N3", "Linia N1") or the marker's state
// ("włączony", "wyłączony"); empty for a value the list does not offer.
QString choiceText(const TFieldDesc& f, int v);

// The field of `component` in `fields`, or nullptr.
const TFieldDesc* findField(const std::vector<TFieldDesc>& fields, const QString& component);

// Limits of the configuration entries.
namespace limits {
constexpr int Umin = 60, Umax = 300;
constexpr int Hist_Min = 0, Hist_Max = 120;
constexpr int Kwal_Min = 0, Kwal_Max = 600;
constexpr int CzasPracy_Min = 0, CzasPracy_Max = 900;
constexpr double Ton_Min = 0, Ton_Max = 90, Td_Min = 0, Td_Max = 90;
} // namespace limits

// Operating programs offered by the program list, in its order.
constexpr int kProgramItems[9] = {0, 1, 2, 3, 4, 5, 10, 11, 12};
// The list item of a program, -1 for one the list does not offer.
int programItem(int progr);

} // namespace qta
