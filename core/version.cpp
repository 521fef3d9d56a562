#include "core/version.h"

#ifndef QTA_VERSION
#error "QTA_VERSION must be defined by the build"
#endif

namespace qta {

QString programVersion() { return QStringLiteral(QTA_VERSION); }

} // namespace qta
