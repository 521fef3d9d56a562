// Where a test finds the programs it starts and the files of the source tree,
// looked up when it runs rather than built into it, so that the same objects
// serve every checkout (the compiler cache then hits across clones).
#pragma once

#include <QFileInfo>
#include <QString>

namespace qta::test {

// A program of the build: every binary lands in the build's bin/, beside the
// running test (usable before a QCoreApplication exists).
inline QString binPath(const QString& name) {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() + u'/' + name;
}

// A file of the source tree: ctest gives the tree as QTA_SOURCE_DIR.
inline QString sourcePath(const QString& name) {
    return qEnvironmentVariable("QTA_SOURCE_DIR") + u'/' + name;
}

} // namespace qta::test
