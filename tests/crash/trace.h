// The file operations of the table layer during a workload, recorded at the
// layer's own seam (dbf::setIoTraceHook), with the files that were there when
// the recording started.
#pragma once

#include "tables/tablefile.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

namespace crash {

using qta::dbf::IoOp;

struct Trace {
    QString folder;                        // where the workload ran
    std::map<QString, QByteArray> initial; // files there before the first operation, durable
    std::vector<IoOp> ops;
};

// Records while it lives; one at a time.
class Recorder {
public:
    // The files under `folder` as they are now become the durable start.
    explicit Recorder(const QString& folder);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    Trace take();

private:
    Trace trace_;
};

// One line: "#12 write rejestr/linia.dbf @1009 +54".
QString describe(const Trace& t, int index);
// The path relative to the workload's folder.
QString relative(const Trace& t, const QString& path);
// The whole trace as text, one operation a line (bytes of writes in hex).
bool saveTrace(const Trace& t, const QString& file);

} // namespace crash
