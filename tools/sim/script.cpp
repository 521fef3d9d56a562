#include "tools/sim/script.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace qta::sim {

namespace {
// Milliseconds 0 .. a week.
bool parseMs(const QString& text, qint64& ms) {
    bool ok = false;
    ms = text.toLongLong(&ok, 10);
    return ok && ms >= 0 && ms <= 7LL * 24 * 3600 * 1000;
}
} // namespace

std::vector<ScriptStep> parseScript(const QString& text, const QString& file,
                                    const std::function<QString(const QString&)>& check) {
    std::vector<ScriptStep> steps;
    qint64 previous = 0;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QString where = QStringLiteral("%1:%2").arg(file).arg(i + 1);
        const qsizetype space = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString time = space < 0 ? line : line.left(space);
        const QString command = space < 0 ? QString() : line.mid(space + 1).trimmed();
        const bool relative = time.startsWith(u'+');
        qint64 ms = 0;
        if (!parseMs(relative ? time.mid(1) : time, ms))
            throw ScriptError(QStringLiteral("%1: \"%2\" is not a time in milliseconds (N or +N)")
                                  .arg(where, time));
        if (relative)
            ms += previous;
        else if (ms < previous)
            throw ScriptError(QStringLiteral("%1: time %2 ms is before the step above (%3 ms)")
                                  .arg(where)
                                  .arg(ms)
                                  .arg(previous));
        if (command.isEmpty())
            throw ScriptError(QStringLiteral("%1: no command after the time").arg(where));
        if (const QString why = check(command); !why.isEmpty())
            throw ScriptError(QStringLiteral("%1: %2").arg(where, why));
        steps.push_back({ms, command, where});
        previous = ms;
    }
    return steps;
}

ScriptStep parseAt(const QString& arg, const std::function<QString(const QString&)>& check) {
    const qsizetype colon = arg.indexOf(u':');
    qint64 ms = 0;
    if (colon < 0 || !parseMs(arg.left(colon).trimmed(), ms))
        throw ScriptError(QStringLiteral("--at \"%1\": expected MS:COMMAND").arg(arg));
    const QString command = arg.mid(colon + 1).trimmed();
    if (command.isEmpty())
        throw ScriptError(QStringLiteral("--at \"%1\": no command after the time").arg(arg));
    if (const QString why = check(command); !why.isEmpty())
        throw ScriptError(QStringLiteral("--at \"%1\": %2").arg(arg, why));
    return {ms, command, QStringLiteral("--at")};
}

void orderSteps(std::vector<ScriptStep>& steps) {
    std::stable_sort(steps.begin(), steps.end(),
                     [](const ScriptStep& a, const ScriptStep& b) { return a.atMs < b.atMs; });
}

} // namespace qta::sim
