// Inside the table layer: the test hooks at its file-I/O seam, for the
// library's writes while a table is made (tables/tablefile.cpp).
#pragma once

#include "tables/tablefile.h"

namespace qta::dbf {

// The fault a test asks for at this write, or none.
WriteFault faultAt(qint64 offset, qint64 length);
bool tracing();
void trace(IoOp::Kind kind, const QString& path, qint64 offset = 0, const char* data = nullptr,
           qint64 length = 0, const QString& target = {});

} // namespace qta::dbf
