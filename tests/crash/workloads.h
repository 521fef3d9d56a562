// The program's own write patterns, recorded at the table layer's seam. The
// core runs headless against qta504-sim wherever the pattern comes from it.
#pragma once

#include "trace.h"

#include <QString>

#include <functional>
#include <vector>

namespace crash {

struct Workload {
    QString name;
    QString what;
    // Runs in `folder` (empty, made for it); an empty trace and `error` when it could not.
    std::function<Trace(const QString& folder, QString* error)> record;
};

std::vector<Workload> workloads();

} // namespace crash
