#include "alarms/alarmjournal.h"

#include "tables/codepage.h"
#include "tables/table.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace qta {

namespace {
constexpr int kRemarkWidth = 254;
} // namespace

TAlarmJournal::TAlarmJournal(const QString& fileName) : fileName_(fileName) {}

TAlarmJournal::~TAlarmJournal() { close(); }

void TAlarmJournal::open() {
    close();
    if (!QFileInfo::exists(fileName_))
        TTable::createAlarmy(fileName_);
    auto t = std::make_unique<TTable>(fileName_);
    t->Open();
    for (const char* name : {"CZAS", "ALARM", "PRIORYTET", "STAN", "KTO", "UWAGI"})
        if (t->fieldIndex(QLatin1String(name)) < 0)
            throw ETable(QStringLiteral("Tabela %1 nie jest dziennikiem alarmów: brak pola %2")
                             .arg(fileName_, QLatin1String(name)));
    table_ = std::move(t);
}

void TAlarmJournal::close() {
    if (!table_)
        return;
    try {
        flush();
    } catch (const ETable&) {
        // What could not be written now is lost with the program; it was reported.
    }
    table_->Close();
    table_.reset();
}

bool TAlarmJournal::isOpen() const { return table_ && table_->Active(); }

std::vector<TAlarmJournalRow> TAlarmJournal::readAll() const { return readRows(0, rowCount()); }

int TAlarmJournal::rowCount() const { return isOpen() ? table_->RecordCount() : 0; }

std::vector<TAlarmJournalRow> TAlarmJournal::readRows(int first, int count) const {
    std::vector<TAlarmJournalRow> rows;
    if (!isOpen())
        return rows;
    TTable& t = *table_;
    const int czas = t.fieldIndex(QStringLiteral("CZAS"));
    const int alarm = t.fieldIndex(QStringLiteral("ALARM"));
    const int prio = t.fieldIndex(QStringLiteral("PRIORYTET"));
    const int stan = t.fieldIndex(QStringLiteral("STAN"));
    const int kto = t.fieldIndex(QStringLiteral("KTO"));
    const int uwagi = t.fieldIndex(QStringLiteral("UWAGI"));
    const int n = std::min(t.RecordCount(), first + count);
    rows.reserve(size_t(std::max(0, n - first)));
    for (int r = std::max(0, first); r < n; ++r)
        rows.push_back({t.dateTimeValue(r, czas), t.stringValue(r, alarm).trimmed(),
                        t.stringValue(r, prio).trimmed(), t.stringValue(r, stan).trimmed(),
                        t.stringValue(r, kto).trimmed(), t.stringValue(r, uwagi).trimmed()});
    return rows;
}

void TAlarmJournal::openReadOnly() {
    close();
    auto t = std::make_unique<TTable>(fileName_);
    t->OpenReadOnly();
    table_ = std::move(t);
}

bool TAlarmJournal::readOnly() const { return table_ && table_->ReadOnly(); }

void TAlarmJournal::refresh() {
    if (readOnly())
        table_->Refresh();
}

void TAlarmJournal::append(const TAlarmJournalRow& row) {
    if (readOnly())
        return; // the program that writes the journal writes its own rows
    queue_.push_back(row);
    flush();
}

void TAlarmJournal::flush() {
    if (!queue_.empty() && !isOpen())
        throw ETable(QStringLiteral("Dziennik alarmów %1 nie jest otwarty; %2 wierszy czeka na "
                                    "zapis")
                         .arg(fileName_)
                         .arg(queue_.size()));
    while (!queue_.empty()) {
        const TAlarmJournalRow& row = queue_.front();
        TTable& t = *table_;
        try {
            t.Append();
            t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(row.czas);
            t.FieldByName(QStringLiteral("ALARM")).setAsString(row.alarm);
            t.FieldByName(QStringLiteral("PRIORYTET")).setAsString(row.priorytet);
            t.FieldByName(QStringLiteral("STAN")).setAsString(row.stan);
            t.FieldByName(QStringLiteral("KTO")).setAsString(fitUser(row.kto));
            t.FieldByName(QStringLiteral("UWAGI")).setAsString(row.uwagi);
            t.Post();
        } catch (const ETable&) {
            // The row is kept here, not in the table, so that nothing half-set
            // reaches the file later; it is written again first next time.
            t.Cancel();
            throw;
        }
        queue_.pop_front();
    }
}

QString TAlarmJournal::remarkProblem(const QString& text) {
    QStringList problems;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size();
        const QString c = text.mid(i, pair ? 2 : 1);
        QByteArray bytes;
        QString bad;
        if (!pair && dbf::encodeText(dbf::CodePage::Cp1250, c, bytes, bad))
            continue;
        problems << QStringLiteral("znaku „%1” (na pozycji %2) nie da się zapisać w dzienniku "
                                   "alarmów, który przechowuje tekst w stronie kodowej "
                                   "Windows-1250; usuń go lub zastąp innym")
                        .arg(c)
                        .arg(i + 1);
        break;
    }
    if (text.size() > kRemarkWidth)
        problems << QStringLiteral("uwaga ma %1 znaków, a pole mieści najwyżej %2; skróć ją o %3")
                        .arg(text.size())
                        .arg(kRemarkWidth)
                        .arg(text.size() - kRemarkWidth);
    if (problems.isEmpty())
        return {};
    return QStringLiteral("Uwagi nie zapisano: ") + problems.join(QStringLiteral("; ponadto ")) +
           QStringLiteral(". Wpisany tekst pozostaje w polu uwag do poprawienia.");
}

QString TAlarmJournal::fitUser(const QString& user) {
    // A user name is never refused: what the code page cannot hold becomes '?'.
    QString out;
    for (const QChar c : user) {
        QByteArray bytes;
        QString bad;
        const bool fits =
            !c.isSurrogate() && dbf::encodeText(dbf::CodePage::Cp1250, QString(c), bytes, bad);
        out += fits ? c : QChar(u'?');
    }
    return out.left(kUserWidth);
}

QString currentUserName() {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString env = qEnvironmentVariable("USER");
    return env.isEmpty() ? QStringLiteral("uid %1").arg(::getuid()) : env;
}

} // namespace qta
