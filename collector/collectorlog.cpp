#include "collector/collectorlog.h"

#include <cstdio>
#include <cstdlib>

namespace qta {

namespace {
bool journalPrefixes() {
    static const bool on = std::getenv("JOURNAL_STREAM") != nullptr;
    return on;
}
} // namespace

void collectorLog(LogLevel level, const QString& name, const QString& text) {
    QString line =
        (name.isEmpty() ? QStringLiteral("qta504d") : name) + QStringLiteral(": ") + text;
    // One event, one line, whatever a message brought with it.
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray bytes = line.toUtf8();
    if (journalPrefixes())
        std::fprintf(stderr, "<%d>%s\n", int(level), bytes.constData());
    else
        std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

} // namespace qta
