#include "email/mailtext.h"

#include <QLocale>
#include <QSet>
#include <QStringList>

namespace qta::email {

namespace {

QString when(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString lower(AlarmTransition t) { return transitionText(t).toLower(); }

// The event a subject names: high priority first, then a raised alarm, then
// the earliest.
int headline(const QList<TMailEvent>& events) {
    int best = 0;
    const auto rank = [](const TMailEvent& e) {
        return (e.priority == AlarmPriority::High ? 2 : 0) +
               (e.transition == AlarmTransition::Raised ? 1 : 0);
    };
    for (int i = 1; i < events.size(); ++i)
        if (rank(events[i]) > rank(events[best]))
            best = i;
    return best;
}

QString controllerTitle(const QString& name, const QString& identifier) {
    return identifier.isEmpty()
               ? QStringLiteral("Sterownik %1 (identyfikator jeszcze nieodczytany)").arg(name)
               : QStringLiteral("Sterownik %1 (identyfikator %2)").arg(name, identifier);
}

// Text from outside (a name or a remark given over MQTT or in the browser)
// on one line of its own: a line break in it could pass for a line of the
// message (a "Konsola:" link of somebody else's).
QString oneLine(const QString& s) {
    QString out = s;
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    return out.simplified();
}

QString eventLine(const TMailEvent& e) {
    QString line =
        QStringLiteral("  %1  %2, priorytet %3: %4")
            .arg(when(e.time), e.alarm, priorityText(e.priority), transitionText(e.transition));
    if (!e.who.isEmpty() && (e.transition == AlarmTransition::Acknowledged ||
                             e.transition == AlarmTransition::Shelved)) {
        line += QStringLiteral(" (kto: %1").arg(oneLine(e.who));
        if (!e.remark.isEmpty())
            line += QStringLiteral("; uwagi: %1").arg(oneLine(e.remark));
        line += u')';
    }
    return line;
}

// Header text in encoded words of at most 39 bytes of UTF-8 (52 base64
// characters, 64 with the markers), never splitting a character; folded so
// that no line passes 76 characters.
QByteArray encodedWords(const QString& text) {
    QList<QByteArray> words;
    QByteArray chunk;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray c = text.mid(i, n).toUtf8();
        if (chunk.size() + c.size() > 39) {
            words << chunk;
            chunk.clear();
        }
        chunk += c;
        i += n;
    }
    if (!chunk.isEmpty())
        words << chunk;
    QByteArray out;
    for (const QByteArray& w : words) {
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + w.toBase64() + "?=";
    }
    return out;
}

} // namespace

TMailEvent mailEvent(const QString& name, const QString& identifier, const TAlarm& a,
                     AlarmTransition t, const QDateTime& now) {
    TMailEvent e{name, identifier, now, a.text, a.priority, t, {}, {}};
    // The time the journal gives the transition.
    if (t == AlarmTransition::Raised && a.raised.isValid())
        e.time = a.raised;
    else if (t == AlarmTransition::Cleared && a.cleared.isValid())
        e.time = a.cleared;
    if (t == AlarmTransition::Acknowledged || t == AlarmTransition::Shelved) {
        e.who = a.who;
        e.remark = t == AlarmTransition::Acknowledged ? a.remark : QString();
    }
    return e;
}

TControllerAlarms waitingAlarms(const QString& name, const QString& identifier,
                                const std::vector<TAlarm>& listed) {
    TControllerAlarms k{name, identifier, {}};
    for (const TAlarm& a : listed) {
        if (!a.unacknowledged())
            continue;
        QString state = stateText(a.state, a.notification());
        if (a.shelved())
            state += QStringLiteral(", wyciszony do %1")
                         .arg(a.shelvedUntil.toString(QStringLiteral("HH:mm")));
        k.waiting << TWaitingAlarm{a.text, a.priority, state, a.raised};
    }
    return k;
}

QString plural(int n, const QString& one, const QString& few, const QString& many) {
    if (n == 1)
        return one;
    const int tens = n % 100, units = n % 10;
    return units >= 2 && units <= 4 && (tens < 12 || tens > 14) ? few : many;
}

bool mailImportant(const TMailContent& c) {
    for (const TMailEvent& e : c.events)
        if (e.priority == AlarmPriority::High)
            return true;
    return false;
}

QString mailSubject(const TMailContent& c) {
    const QString tag = QStringLiteral("[QTA-504] ");
    const int count = int(c.events.size()) + c.omitted;
    if (c.summary || c.events.isEmpty()) {
        QStringList names;
        for (const TControllerAlarms& k : c.controllers)
            names << k.controller;
        return tag + QStringLiteral("Podsumowanie: %1 %2 alarmów (%3)")
                         .arg(count)
                         .arg(plural(count, QStringLiteral("zmiana"), QStringLiteral("zmiany"),
                                     QStringLiteral("zmian")))
                         .arg(names.join(QStringLiteral(", ")));
    }
    const TMailEvent& h = c.events[headline(c.events)];
    QStringList states;
    QSet<QString> others;
    for (const TMailEvent& e : c.events) {
        if (e.controller == h.controller && e.alarm == h.alarm) {
            if (states.isEmpty() || states.constLast() != lower(e.transition))
                states << lower(e.transition);
        } else {
            others.insert(e.controller + u'\x1f' + e.alarm);
        }
    }
    QString s =
        tag +
        QStringLiteral("%1: %2 – %3").arg(h.controller, h.alarm, states.join(QStringLiteral(", ")));
    if (const int n = int(others.size()); n > 0)
        s += QStringLiteral("; i %1 %2")
                 .arg(n)
                 .arg(plural(n, QStringLiteral("inny alarm"), QStringLiteral("inne alarmy"),
                             QStringLiteral("innych alarmów")));
    return s;
}

QString mailBody(const TMailContent& c, const TMailStyle& style) {
    QStringList out;
    if (c.summary) {
        out << QStringLiteral("Podsumowanie: limit %1 %2 na godzinę do tego odbiorcy został "
                              "osiągnięty; oto wszystkie zmiany alarmów od tego czasu.")
                   .arg(style.perHour)
                   .arg(plural(style.perHour, QStringLiteral("wiadomość"),
                               QStringLiteral("wiadomości"), QStringLiteral("wiadomości")))
            << QString();
    }
    if (c.omitted > 0)
        out << QStringLiteral("Pominięto %1 najstarszych zmian; pełny zapis jest w dzienniku "
                              "alarmów (rejestr/alarmy.dbf).")
                   .arg(c.omitted)
            << QString();
    for (const TControllerAlarms& k : c.controllers) {
        out << controllerTitle(k.controller, k.identifier) << QString()
            << QStringLiteral("Zmiany alarmów:");
        for (const TMailEvent& e : c.events)
            if (e.controller == k.controller)
                out << eventLine(e);
        out << QString();
        if (k.waiting.isEmpty()) {
            out << QStringLiteral("Czekają na potwierdzenie: żaden alarm.");
        } else {
            out << QStringLiteral("Czekają na potwierdzenie:");
            for (const TWaitingAlarm& w : k.waiting)
                out << QStringLiteral("  %1, priorytet %2: %3 (wystąpił %4)")
                           .arg(w.alarm, priorityText(w.priority), w.state, when(w.raised));
        }
        out << QString();
    }
    if (c.limitUntil.isValid())
        out << QStringLiteral("To %1. wiadomość w ciągu godziny, czyli limit. Kolejne zmiany "
                              "alarmów przyjdą w jednym podsumowaniu nie wcześniej niż o %2.")
                   .arg(style.perHour)
                   .arg(c.limitUntil.toString(QStringLiteral("HH:mm")))
            << QString();
    if (!style.consoleUrl.isEmpty())
        out << QStringLiteral("Konsola: %1").arg(style.consoleUrl) << QString();
    out << QStringLiteral("-- ")
        << QStringLiteral("Wysłał kolektor qta504d (komputer %1). Zmiany alarmów z %2 s "
                          "przychodzą w jednej wiadomości; do jednego odbiorcy najwyżej %3 %4 "
                          "na godzinę, a zmiany ponad to w jednym podsumowaniu.")
               .arg(style.hostName)
               .arg(style.groupSeconds)
               .arg(style.perHour)
               .arg(plural(style.perHour, QStringLiteral("wiadomość"), QStringLiteral("wiadomości"),
                           QStringLiteral("wiadomości")));
    return out.join(u'\n') + u'\n';
}

QByteArray headerField(const QByteArray& name, const QString& text) {
    bool plain = true;
    for (const QChar c : text)
        plain = plain && c.unicode() >= 32 && c.unicode() < 127;
    // "=?" would read as the start of an encoded word.
    if (plain && !text.contains(QLatin1String("=?")) && name.size() + 2 + text.size() <= 78)
        return name + ": " + text.toLatin1() + "\r\n";
    return name + ": " + encodedWords(text) + "\r\n";
}

QByteArray quotedPrintable(const QString& text) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    const QList<QByteArray> lines = text.toUtf8().split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        QByteArray line = lines[l];
        if (line.endsWith('\r'))
            line.chop(1);
        if (l == lines.size() - 1 && line.isEmpty())
            break; // the text's last line end
        int width = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(line[i]);
            const bool last = i == line.size() - 1;
            QByteArray token;
            if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last))
                token = QByteArray(1, char(b));
            else
                token = QByteArray{"="} + hex[b >> 4] + hex[b & 15];
            if (width + token.size() > 75) {
                out += "=\r\n";
                width = 0;
            }
            out += token;
            width += int(token.size());
        }
        out += "\r\n";
    }
    return out;
}

QByteArray mailDate(const QDateTime& t) {
    const int offset = t.offsetFromUtc() / 60;
    const int a = offset < 0 ? -offset : offset;
    return QLocale::c().toString(t, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")).toLatin1() +
           (offset < 0 ? '-' : '+') + QByteArray::number(a / 60).rightJustified(2, '0') +
           QByteArray::number(a % 60).rightJustified(2, '0');
}

QByteArray mimeMessage(const QString& from, const QString& to, const QString& subject,
                       const QString& body, const QDateTime& date, const QString& messageId,
                       bool important) {
    QByteArray m;
    m += "From: QTA-504 <" + from.toLatin1() + ">\r\n";
    m += "To: <" + to.toLatin1() + ">\r\n";
    m += headerField("Subject", subject);
    m += "Date: " + mailDate(date) + "\r\n";
    m += "Message-ID: <" + messageId.toLatin1() + ">\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\n";
    m += "Content-Transfer-Encoding: quoted-printable\r\n";
    m += "Auto-Submitted: auto-generated\r\n";
    if (important)
        m += "Importance: high\r\nX-Priority: 1\r\n";
    m += "\r\n";
    m += quotedPrintable(body);
    return m;
}

} // namespace qta::email
