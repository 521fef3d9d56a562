// The program's version, shared by the desktop program, the collector and the
// report.
#pragma once

#include <QString>

namespace qta {

// The version of the program ("1.2").
QString programVersion();

} // namespace qta
