#include "trace.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace crash {

Recorder::Recorder(const QString& folder) {
    trace_.folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QDirIterator it(trace_.folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir::cleanPath(it.next());
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            trace_.initial[path] = f.readAll();
    }
    qta::dbf::setIoTraceHook([this](const IoOp& op) { trace_.ops.push_back(op); });
}

Recorder::~Recorder() { qta::dbf::setIoTraceHook(nullptr); }

Trace Recorder::take() {
    qta::dbf::setIoTraceHook(nullptr);
    return std::move(trace_);
}

QString relative(const Trace& t, const QString& path) {
    return QDir(t.folder).relativeFilePath(path);
}

QString describe(const Trace& t, int index) {
    if (index < 0 || index >= int(t.ops.size()))
        return QStringLiteral("(start)");
    const IoOp& op = t.ops[size_t(index)];
    const QString file = relative(t, op.path);
    switch (op.kind) {
    case IoOp::Create: return QStringLiteral("#%1 create %2").arg(index).arg(file);
    case IoOp::Open: return QStringLiteral("#%1 open %2").arg(index).arg(file);
    case IoOp::Write:
        return QStringLiteral("#%1 write %2 @%3 +%4")
            .arg(index)
            .arg(file)
            .arg(op.offset)
            .arg(op.data.size());
    case IoOp::Truncate:
        return QStringLiteral("#%1 truncate %2 to %3").arg(index).arg(file).arg(op.offset);
    case IoOp::Sync: return QStringLiteral("#%1 fdatasync %2").arg(index).arg(file);
    case IoOp::Rename:
        return QStringLiteral("#%1 rename %2 -> %3").arg(index).arg(file, relative(t, op.target));
    case IoOp::Remove: return QStringLiteral("#%1 remove %2").arg(index).arg(file);
    case IoOp::SyncDir: return QStringLiteral("#%1 fsync folder %2").arg(index).arg(file);
    }
    return {};
}

bool saveTrace(const Trace& t, const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const auto& [path, bytes] : t.initial)
        f.write(
            QStringLiteral("initial %1 %2\n").arg(relative(t, path)).arg(bytes.size()).toUtf8());
    for (int i = 0; i < int(t.ops.size()); ++i) {
        f.write(describe(t, i).toUtf8());
        if (t.ops[size_t(i)].kind == IoOp::Write)
            f.write(" " + t.ops[size_t(i)].data.toHex());
        f.write("\n");
    }
    return f.flush();
}

} // namespace crash
