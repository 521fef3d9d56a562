// `qta504d [--config FILE] --user add|passwd|role|del|list [NAME] [--role ROLE]`:
// the console's users edited from the command line. The users file is
// `users` beside the configuration file; every change goes into the site's
// activity log as done from the command line by the system user running it.
// A new password is read from the terminal without echo (asked twice) or,
// when standard input is not a terminal, as its first line; never from the
// command line.
#pragma once

#include <QString>

namespace qta {

// Runs one action; returns the exit code: 0 done, 2 refused (a bad name,
// role or password, no such user, a users file that is not used), 1 the
// files could not be written. Messages go to standard output (what was
// done, the list) and standard error (why not), in Polish.
int runUserCommand(const QString& configPath, const QString& action, const QString& name,
                   const QString& role);

} // namespace qta
