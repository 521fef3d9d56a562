// What a power loss at any point of a trace may leave on the disk.
//
// The model, per file: what the last completed data sync (fdatasync) of the
// file saw is durable. Each later write may be there or not, independently;
// a write longer than one 512-byte sector may also be torn at the sector
// boundaries it crosses (each piece there or not), a shorter one is whole or
// absent. Overlapping writes that are there apply in their order. The size
// may lag: it is the durable size or any size a later write or truncation of
// the trace gave the file; bytes past the durable data that no write kept
// are zeros. Names: creating, renaming and removing a file are durable only
// once its folder was synced; before that, those of one folder reach the disk
// in their order, so any leading run of them may be there.
//
// Per point the states are all combinations of these choices when there are
// at most 256 of them, otherwise a given number drawn at random from a seed
// (the same seed gives the same states).
#pragma once

#include "trace.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

namespace crash {

constexpr qint64 kSector = 512;
constexpr quint64 kExhaustive = 256;

struct CrashState {
    int point = 0;                       // the operations before it completed
    std::map<QString, QByteArray> files; // absolute path -> bytes
    std::map<QString, int> inode;        // absolute path -> file identity
    QString choice;                      // what was kept, in words
};

// Replays a trace one operation at a time and gives the crash states at the
// point reached, and what the workload had been promised there.
class Replay {
public:
    explicit Replay(const Trace& t);

    int point() const { return point_; }
    bool done() const { return point_ >= int(trace_.ops.size()); }
    void step();

    // The number of crash states at this point (saturating at 2^62).
    quint64 combinations() const;
    // All of them when at most kExhaustive, otherwise `samples` drawn from `seed`.
    std::vector<CrashState> states(int samples, quint64 seed) const;

    // A table's rows (the bytes after the row mark) that a data sync of the
    // file made durable: those a plain reader sees in the durable bytes,
    // reading rows up to the first that has no row mark.
    std::vector<QByteArray> syncedRows(int inode) const;
    // Whether `content` is something row `row` of the file held at some moment
    // (for a synced row: as synced, or as rewritten after that sync).
    bool rowVersion(int inode, int row, const QByteArray& content,
                    const std::vector<QByteArray>& synced) const;
    // Whether the name is durable (its folder synced after it was made).
    bool durableName(const QString& path) const { return durable_.count(path) != 0; }

private:
    struct Pending {
        int op = 0;
        bool write = false;
        qint64 offset = 0; // write: where; truncation: the new size
        QByteArray data;
        qint64 sizeAfter = 0;
    };
    struct Piece {
        int pending = 0; // index into Inode::pending
        qint64 offset = 0;
        int from = 0, length = 0; // part of the write's data
        int number = 0, of = 1;
    };
    struct Version {
        QByteArray content;
        int op = 0;
    };
    struct Inode {
        QByteArray durable;
        QByteArray live;
        std::vector<Pending> pending;
        int lastSync = -1;
        std::map<int, std::vector<Version>> versions; // by row
    };
    struct NameOp {
        IoOp::Kind kind = IoOp::Create;
        QString path, target;
        int inode = -1;
    };
    // The choices that make one crash state.
    struct Choice {
        std::vector<int> prefix;             // per folder with pending name operations
        std::vector<std::vector<bool>> kept; // per inode: per piece
        std::vector<int> size;               // per inode: 0 durable, k after pending k-1
    };

    std::vector<Piece> pieces(int inode) const;
    int newInode(const QByteArray& bytes);
    void recordVersions(int inode, qint64 offset, qint64 length, int op);
    std::map<QString, int> names(const Choice& c) const;
    QByteArray materialize(int inode, const std::vector<bool>& kept, int size) const;
    CrashState build(const Choice& c) const;
    QString words(const Choice& c, const std::map<QString, int>& names) const;

    const Trace& trace_;
    int point_ = 0;
    std::vector<Inode> inodes_;
    std::map<QString, int> live_, durable_;
    std::map<QString, std::vector<NameOp>> namePending_; // by folder
};

// Layout numbers of a table image (0 when too short).
int headerLength(const QByteArray& image);
int recordLength(const QByteArray& image);

} // namespace crash
