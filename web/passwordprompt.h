// A new password for the command line: from the terminal without echo, typed
// twice, or, when standard input is not a terminal (a script, a test), its
// first line. Never from the command line, where other users could see it.
#pragma once

#include <QString>
#include <optional>

namespace qta::web {

constexpr int kMinPasswordLength = 8; // characters

// Why `password` is refused as a new password (Polish), empty when it is fine.
QString newPasswordProblem(const QString& password);

// Reads a new password for `user`; prompts go to standard error. nullopt
// with `error` set when none was given, the two differ or it is refused by
// newPasswordProblem. An interrupt while the echo is off puts the terminal
// back before the program ends.
std::optional<QString> readNewPassword(const QString& user, QString& error);

} // namespace qta::web
