#include "settings/backupfile.h"

#include <QFile>
#include <QSaveFile>

namespace qta {

namespace {
// Values in the file do not depend on the PC's regional settings.
QString fileValue(const TFieldDesc& f, const TKonf& k) {
    const double v = f.get(k);
    if (f.kind == TFieldDesc::Entry && f.rule.kind == EntryKind::Tenths)
        return QString::number(v, 'g', 15);
    return QString::number(qint64(v));
}

QString range(const TFieldDesc& f) {
    if (f.kind == TFieldDesc::Choice) {
        QStringList v;
        for (int c : f.choices)
            v << QString::number(c);
        return QStringLiteral("dozwolone: ") + v.join(QStringLiteral(", "));
    }
    return QStringLiteral("dozwolone od %1 do %2")
        .arg(QString::number(f.rule.min), QString::number(f.rule.max));
}
} // namespace

QString backupText(const QString& section, const QString& title,
                   const std::vector<TFieldDesc>& fields, const TKonf& konf,
                   const QString& controllerId, const QDateTime& when) {
    QString t;
    t += QStringLiteral("; ") + title + u'\n';
    t +=
        QStringLiteral("; Sterownik: ") +
        (controllerId.trimmed().isEmpty() ? QStringLiteral("(nieznany)") : controllerId.trimmed()) +
        u'\n';
    t += QStringLiteral("; Zapisano: ") + when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
         u'\n';
    t += u'[' + section + QStringLiteral("]\n");
    for (const TFieldDesc& f : fields) {
        t += QStringLiteral("; ") + f.spoken + u'\n';
        t += f.key + u'=' + fileValue(f, konf) + u'\n';
    }
    return t;
}

void writeBackup(const QString& path, const QString& section, const QString& title,
                 const std::vector<TFieldDesc>& fields, const TKonf& konf,
                 const QString& controllerId, const QDateTime& when) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        throw EBackup(QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, f.errorString()));
    f.write(backupText(section, title, fields, konf, controllerId, when).toUtf8());
    if (!f.commit())
        throw EBackup(QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, f.errorString()));
}

QString TBackupLoad::message() const {
    QStringList parts;
    if (!refused.isEmpty())
        parts << QStringLiteral("Nie przyjęto wartości (pozostały poprzednie):\n") +
                     refused.join(u'\n');
    if (!unknown.isEmpty())
        parts << QStringLiteral("Pominięto nieznane klucze: ") + unknown.join(QStringLiteral(", "));
    return parts.join(QStringLiteral("\n\n"));
}

TBackupLoad parseBackup(const QString& text, const QString& section,
                        const std::vector<TFieldDesc>& fields, const TKonf& start) {
    TBackupLoad r;
    r.konf = start;
    bool inSection = false, sectionSeen = false;
    QStringList seen;
    for (QString line : text.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'\uFEFF'))
            line.remove(0, 1);
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            inSection =
                line.mid(1, line.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            sectionSeen |= inSection;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        const TFieldDesc* f = nullptr;
        for (const TFieldDesc& s : fields)
            if (s.key.compare(key, Qt::CaseInsensitive) == 0)
                f = &s;
        if (!f) {
            r.unknown << key;
            continue;
        }
        seen << f->key;
        const double present = f->get(r.konf);
        if (f->kind == TFieldDesc::Choice) {
            bool ok = false;
            const int v = value.toInt(&ok);
            // A value equal to the copy's (also one the lists do not offer,
            // as read from the controller) changes nothing.
            if (ok && (f->accepts(v) || v == present))
                f->set(r.konf, v);
            else
                r.refused << QStringLiteral("%1 = %2: %3").arg(f->key, value, range(*f));
            continue;
        }
        // The rule of the box decides, as if the value had been typed.
        QString typed = value;
        if (f->rule.kind == EntryKind::Tenths)
            typed.replace(u',', u'.');
        bool number = false;
        const double v = f->rule.kind == EntryKind::Tenths ? QLocale::c().toDouble(typed, &number)
                                                           : double(typed.toInt(&number));
        const TEntryResult e = applyEntry(f->rule, typed, present, QLocale::c());
        if (!number)
            r.refused << QStringLiteral("%1 = %2: to nie jest liczba").arg(f->key, value);
        else if (e.outcome == TEntryResult::Accepted)
            f->set(r.konf, e.value);
        else if (v != present)
            r.refused << QStringLiteral("%1 = %2: poza zakresem, %3").arg(f->key, value, range(*f));
    }
    if (!sectionSeen)
        throw EBackup(QStringLiteral("Plik nie zawiera sekcji [%1]").arg(section));
    for (const TFieldDesc& f : fields)
        if (!seen.contains(f.key))
            r.missing << f.key;
    return r;
}

TBackupLoad readBackup(const QString& path, const QString& section,
                       const std::vector<TFieldDesc>& fields, const TKonf& start) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        throw EBackup(QStringLiteral("Nie można odczytać pliku %1: %2").arg(path, f.errorString()));
    return parseBackup(QString::fromUtf8(f.readAll()), section, fields, start);
}

} // namespace qta
