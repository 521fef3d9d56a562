#include "settings/entryrule.h"

#include <cmath>

namespace qta {

namespace {
QLocale plainNumbers(QLocale locale) {
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

// A whole number of the box's integer type (32 bits), optionally signed.
bool toWholeNumber(const QString& text, qint64* out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (ok)
        *out = v;
    return ok;
}
} // namespace

QString notAnIntegerMessage(const QString& text) {
    return QStringLiteral("''%1'' is not a valid integer value").arg(text);
}

int tenthsOf(double seconds) {
    if (!(seconds > 0))
        return 0;
    if (seconds >= 6553.5)
        return 65535;
    // The shortest decimal form (up to 15 significant digits) is the number
    // as typed or as read; its first decimal digit is the tenths. Values too
    // small for a plain form ("1e-05") are below a tenth.
    const QString s = QString::number(seconds, 'g', 15);
    if (s.contains(u'e'))
        return 0;
    const qsizetype dot = s.indexOf(u'.');
    const int whole = (dot < 0 ? s : s.left(dot)).toInt();
    const int tenth = dot >= 0 && dot + 1 < s.size() ? s[dot + 1].digitValue() : 0;
    return whole * 10 + tenth;
}

TEntryResult applyEntry(const TEntryRule& rule, const QString& text, double present,
                        const QLocale& locale) {
    TEntryResult r;
    bool converted = false;
    double v = 0;
    if (rule.kind == EntryKind::Tenths) {
        v = plainNumbers(locale).toDouble(text.trimmed(), &converted);
        converted = converted && std::isfinite(v);
    } else {
        qint64 whole = 0;
        converted = toWholeNumber(text, &whole);
        v = double(whole);
    }
    if (!converted && rule.kind == EntryKind::IntegerStrict) {
        r.outcome = TEntryResult::NotANumber;
        r.value = present;
        r.text = text;
        r.error = notAnIntegerMessage(text);
        return r;
    }
    // Bounds inclusive; NaN never passes.
    const bool inRange = converted && v >= rule.min && v <= rule.max;
    if (!inRange) {
        r.outcome = TEntryResult::Reverted;
        v = present;
    } else if (rule.kind == EntryKind::Tenths) {
        // The field holds what will be sent: whole tenths. Without this a box
        // could show 2,5 for an entry of 2,45 that goes out as 24 tenths.
        v = tenthsOf(v) / 10.0;
    }
    r.value = v;
    r.text = entryText(rule, v, true, locale);
    return r;
}

QString entryText(const TEntryRule& rule, double value, bool afterEdit, const QLocale& locale) {
    if (rule.kind != EntryKind::Tenths)
        return QString::number(qint64(std::llround(value)));
    const QLocale l = plainNumbers(locale);
    return afterEdit ? l.toString(value, 'f', 1) : l.toString(value, 'g', 15);
}

} // namespace qta
