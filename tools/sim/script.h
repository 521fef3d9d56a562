// Timed steps for the simulator: commands of its standard input run at given
// moments, from a script file (--script) or the command line (--at), so that
// a test or a demonstration can trip a fault at night and clear it a minute
// later without anybody typing.
#pragma once

#include <QString>
#include <functional>
#include <stdexcept>
#include <vector>

namespace qta::sim {

struct ScriptStep {
    qint64 atMs = 0; // since the simulator became ready
    QString command;
    QString where; // "FILE:LINE" or "--at", for messages
};

class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const QString& m) : std::runtime_error(m.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A script: one step a line, "TIME COMMAND...", TIME in milliseconds since
// ready or "+MS" after the step before; '#' comments and blank lines skipped.
// `check` tells whether a command would be taken (empty: yes; otherwise why
// not). Raises ScriptError naming the file and line.
std::vector<ScriptStep> parseScript(const QString& text, const QString& file,
                                    const std::function<QString(const QString&)>& check);
// "MS:COMMAND" of --at.
ScriptStep parseAt(const QString& arg, const std::function<QString(const QString&)>& check);

// Steps in the order they run: by time, and in the order given at equal times.
void orderSteps(std::vector<ScriptStep>& steps);

} // namespace qta::sim
