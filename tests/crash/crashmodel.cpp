#include "crashmodel.h"

#include <QFileInfo>

#include <algorithm>
#include <random>

namespace crash {

namespace {

int le16(const QByteArray& b, int at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

void put(QByteArray& image, qint64 offset, const char* data, qint64 length) {
    if (image.size() < offset + length)
        image.append(QByteArray(offset + length - image.size(), '\0'));
    std::copy(data, data + length, image.data() + offset);
}

void resize(QByteArray& image, qint64 size) {
    if (image.size() > size)
        image.truncate(size);
    else if (image.size() < size)
        image.append(QByteArray(size - image.size(), '\0'));
}

QString folderOf(const QString& path) { return QFileInfo(path).path(); }

quint64 mul(quint64 a, quint64 b) {
    constexpr quint64 kCap = quint64(1) << 62;
    return (a != 0 && b > kCap / a) ? kCap : a * b;
}

} // namespace

int headerLength(const QByteArray& image) { return image.size() >= 12 ? le16(image, 8) : 0; }
int recordLength(const QByteArray& image) { return image.size() >= 12 ? le16(image, 10) : 0; }

Replay::Replay(const Trace& t) : trace_(t) {
    for (const auto& [path, bytes] : t.initial) {
        const int id = newInode(bytes);
        live_[path] = durable_[path] = id;
        recordVersions(id, 0, bytes.size(), -1);
    }
}

int Replay::newInode(const QByteArray& bytes) {
    Inode n;
    n.durable = n.live = bytes;
    inodes_.push_back(std::move(n));
    return int(inodes_.size()) - 1;
}

void Replay::recordVersions(int id, qint64 offset, qint64 length, int op) {
    Inode& n = inodes_[size_t(id)];
    const int hl = headerLength(n.live);
    const int rl = recordLength(n.live);
    if (hl < 32 || rl < 2 || offset + length <= hl)
        return;
    const qint64 first = std::max<qint64>(0, (offset - hl) / rl);
    const qint64 last = (offset + length - 1 - hl) / rl;
    for (qint64 r = first; r <= last; ++r) {
        const qint64 at = hl + r * rl;
        if (at + rl > n.live.size())
            break;
        const QByteArray content = n.live.mid(at + 1, rl - 1);
        std::vector<Version>& v = n.versions[int(r)];
        if (v.empty() || v.back().content != content)
            v.push_back({content, op});
    }
}

void Replay::step() {
    if (done())
        return;
    const int index = point_++;
    const IoOp& op = trace_.ops[size_t(index)];
    const auto fileOf = [&](const QString& path) {
        auto it = live_.find(path);
        if (it != live_.end())
            return it->second;
        const int id = newInode({});
        live_[path] = id;
        return id;
    };
    switch (op.kind) {
    case IoOp::Open: break;
    case IoOp::Create: {
        const int id = newInode({});
        live_[op.path] = id;
        namePending_[folderOf(op.path)].push_back({IoOp::Create, op.path, {}, id});
        break;
    }
    case IoOp::Write: {
        const int id = fileOf(op.path);
        Inode& n = inodes_[size_t(id)];
        put(n.live, op.offset, op.data.constData(), op.data.size());
        n.pending.push_back({index, true, op.offset, op.data, n.live.size()});
        recordVersions(id, op.offset, op.data.size(), index);
        break;
    }
    case IoOp::Truncate: {
        const int id = fileOf(op.path);
        Inode& n = inodes_[size_t(id)];
        resize(n.live, op.offset);
        n.pending.push_back({index, false, op.offset, {}, op.offset});
        const int hl = headerLength(n.live);
        const int rl = recordLength(n.live);
        if (hl >= 32 && rl >= 2)
            for (auto it = n.versions.begin(); it != n.versions.end();)
                it = hl + qint64(it->first + 1) * rl > op.offset ? n.versions.erase(it)
                                                                 : std::next(it);
        break;
    }
    case IoOp::Sync: {
        Inode& n = inodes_[size_t(fileOf(op.path))];
        n.durable = n.live;
        n.pending.clear();
        n.lastSync = index;
        break;
    }
    case IoOp::Rename: {
        auto it = live_.find(op.path);
        if (it == live_.end())
            break;
        const int id = it->second;
        live_.erase(it);
        live_[op.target] = id;
        namePending_[folderOf(op.path)].push_back({IoOp::Rename, op.path, op.target, id});
        break;
    }
    case IoOp::Remove:
        live_.erase(op.path);
        namePending_[folderOf(op.path)].push_back({IoOp::Remove, op.path, {}, -1});
        break;
    case IoOp::SyncDir: {
        auto it = namePending_.find(op.path);
        if (it == namePending_.end())
            break;
        Choice all;
        for (const auto& [folder, ops] : namePending_)
            all.prefix.push_back(folder == op.path ? int(ops.size()) : 0);
        durable_ = names(all);
        namePending_.erase(it);
        break;
    }
    }
}

std::vector<Replay::Piece> Replay::pieces(int id) const {
    std::vector<Piece> out;
    const Inode& n = inodes_[size_t(id)];
    for (int i = 0; i < int(n.pending.size()); ++i) {
        const Pending& p = n.pending[size_t(i)];
        if (!p.write)
            continue;
        const qint64 length = p.data.size();
        if (length <= kSector) {
            out.push_back({i, p.offset, 0, int(length), 1, 1});
            continue;
        }
        std::vector<Piece> parts;
        qint64 at = p.offset;
        while (at < p.offset + length) {
            const qint64 end = std::min(p.offset + length, (at / kSector + 1) * kSector);
            parts.push_back({i, at, int(at - p.offset), int(end - at), 0, 0});
            at = end;
        }
        for (size_t k = 0; k < parts.size(); ++k) {
            parts[k].number = int(k) + 1;
            parts[k].of = int(parts.size());
            out.push_back(parts[k]);
        }
    }
    return out;
}

std::map<QString, int> Replay::names(const Choice& c) const {
    std::map<QString, int> out = durable_;
    size_t f = 0;
    for (const auto& [folder, ops] : namePending_) {
        const int n = f < c.prefix.size() ? c.prefix[f] : 0;
        ++f;
        for (int i = 0; i < n && i < int(ops.size()); ++i) {
            const NameOp& o = ops[size_t(i)];
            if (o.kind == IoOp::Create) {
                out[o.path] = o.inode;
            } else if (o.kind == IoOp::Remove) {
                out.erase(o.path);
            } else if (auto it = out.find(o.path); it != out.end()) {
                const int id = it->second;
                out.erase(it);
                out[o.target] = id;
            }
        }
    }
    return out;
}

QByteArray Replay::materialize(int id, const std::vector<bool>& kept, int size) const {
    const Inode& n = inodes_[size_t(id)];
    QByteArray image = n.durable;
    const std::vector<Piece> ps = pieces(id);
    size_t k = 0;
    for (int i = 0; i < int(n.pending.size()); ++i) {
        const Pending& p = n.pending[size_t(i)];
        if (!p.write) {
            if (i < size)
                resize(image, p.offset);
            continue;
        }
        for (; k < ps.size() && ps[k].pending == i; ++k)
            if (kept[k])
                put(image, ps[k].offset, p.data.constData() + ps[k].from, ps[k].length);
    }
    resize(image, size == 0 ? n.durable.size() : n.pending[size_t(size - 1)].sizeAfter);
    return image;
}

quint64 Replay::combinations() const {
    quint64 total = 1;
    for (const auto& [folder, ops] : namePending_)
        total = mul(total, ops.size() + 1);
    for (int id = 0; id < int(inodes_.size()); ++id) {
        const Inode& n = inodes_[size_t(id)];
        if (n.pending.empty())
            continue;
        const size_t ps = pieces(id).size();
        total = mul(total, ps >= 62 ? quint64(1) << 62 : quint64(1) << ps);
        total = mul(total, n.pending.size() + 1);
    }
    return total;
}

std::vector<CrashState> Replay::states(int samples, quint64 seed) const {
    std::vector<int> active;
    std::vector<size_t> pieceCount;
    for (int id = 0; id < int(inodes_.size()); ++id)
        if (!inodes_[size_t(id)].pending.empty()) {
            active.push_back(id);
            pieceCount.push_back(pieces(id).size());
        }
    const auto blank = [&] {
        Choice c;
        c.prefix.assign(namePending_.size(), 0);
        for (size_t a = 0; a < active.size(); ++a)
            c.kept.emplace_back(pieceCount[a], false);
        c.size.assign(active.size(), 0);
        return c;
    };
    std::vector<CrashState> out;
    const quint64 total = combinations();
    if (total <= kExhaustive) {
        for (quint64 index = 0; index < total; ++index) {
            Choice c = blank();
            quint64 rest = index;
            size_t f = 0;
            for (const auto& [folder, ops] : namePending_) {
                c.prefix[f++] = int(rest % (ops.size() + 1));
                rest /= ops.size() + 1;
            }
            for (size_t a = 0; a < active.size(); ++a) {
                for (size_t k = 0; k < pieceCount[a]; ++k) {
                    c.kept[a][k] = rest % 2 != 0;
                    rest /= 2;
                }
                const size_t sizes = inodes_[size_t(active[a])].pending.size() + 1;
                c.size[a] = int(rest % sizes);
                rest /= sizes;
            }
            out.push_back(build(c));
        }
        return out;
    }
    std::mt19937_64 rng(seed);
    const auto below = [&rng](size_t n) { return size_t(rng() % n); };
    for (int s = 0; s < samples; ++s) {
        Choice c = blank();
        size_t f = 0;
        for (const auto& [folder, ops] : namePending_)
            c.prefix[f++] = int(below(ops.size() + 1));
        for (size_t a = 0; a < active.size(); ++a) {
            // Mixed ways of keeping writes: any subset at several densities,
            // or the writes up to some point (a disk that wrote in order).
            const size_t n = pieceCount[a];
            const int mode = int(below(4));
            const size_t upTo = below(n + 1);
            for (size_t k = 0; k < n; ++k) {
                const quint64 r = rng() % 100;
                c.kept[a][k] = mode == 0   ? r < 50
                               : mode == 1 ? r < 10
                               : mode == 2 ? r < 90
                                           : k < upTo;
            }
            const size_t sizes = inodes_[size_t(active[a])].pending.size() + 1;
            const int pick = int(below(3));
            c.size[a] = pick == 0 ? 0 : pick == 1 ? int(sizes - 1) : int(below(sizes));
        }
        out.push_back(build(c));
    }
    return out;
}

CrashState Replay::build(const Choice& c) const {
    CrashState s;
    s.point = point_;
    std::vector<int> active;
    for (int id = 0; id < int(inodes_.size()); ++id)
        if (!inodes_[size_t(id)].pending.empty())
            active.push_back(id);
    const std::map<QString, int> ns = names(c);
    for (const auto& [path, id] : ns) {
        const auto it = std::find(active.begin(), active.end(), id);
        if (it == active.end()) {
            s.files[path] = inodes_[size_t(id)].durable;
        } else {
            const size_t a = size_t(it - active.begin());
            s.files[path] = materialize(id, c.kept[a], c.size[a]);
        }
        s.inode[path] = id;
    }
    s.choice = words(c, ns);
    return s;
}

QString Replay::words(const Choice& c, const std::map<QString, int>& ns) const {
    QStringList parts;
    size_t f = 0;
    for (const auto& [folder, ops] : namePending_) {
        parts << QStringLiteral("folder %1: %2 of %3 name changes kept")
                     .arg(relative(trace_, folder))
                     .arg(c.prefix[f])
                     .arg(ops.size());
        ++f;
    }
    size_t a = 0;
    for (int id = 0; id < int(inodes_.size()); ++id) {
        const Inode& n = inodes_[size_t(id)];
        if (n.pending.empty())
            continue;
        const size_t index = a++;
        QString name;
        for (const auto& [path, i] : ns)
            if (i == id)
                name = relative(trace_, path);
        if (name.isEmpty())
            continue;
        const std::vector<Piece> ps = pieces(id);
        QStringList kept;
        for (size_t k = 0; k < ps.size(); ++k)
            if (c.kept[index][k])
                kept << (ps[k].of > 1
                             ? QStringLiteral("#%1(%2/%3)")
                                   .arg(n.pending[size_t(ps[k].pending)].op)
                                   .arg(ps[k].number)
                                   .arg(ps[k].of)
                             : QStringLiteral("#%1").arg(n.pending[size_t(ps[k].pending)].op));
        const int size = c.size[index];
        parts << QStringLiteral("%1: synced at #%2, kept %3 of %4 later writes [%5], size %6")
                     .arg(name)
                     .arg(n.lastSync)
                     .arg(kept.size())
                     .arg(ps.size())
                     .arg(kept.join(u' '))
                     .arg(size == 0 ? QStringLiteral("as synced (%1)").arg(n.durable.size())
                                    : QStringLiteral("after #%1 (%2)")
                                          .arg(n.pending[size_t(size - 1)].op)
                                          .arg(n.pending[size_t(size - 1)].sizeAfter));
    }
    return parts.join(QStringLiteral("; "));
}

std::vector<QByteArray> Replay::syncedRows(int id) const {
    std::vector<QByteArray> rows;
    const QByteArray& image = inodes_[size_t(id)].durable;
    const int hl = headerLength(image);
    const int rl = recordLength(image);
    if (hl < 32 || rl < 2)
        return rows;
    for (qint64 at = hl; at + rl <= image.size() && (image[at] == ' ' || image[at] == '*');
         at += rl)
        rows.push_back(image.mid(at + 1, rl - 1));
    return rows;
}

bool Replay::rowVersion(int id, int row, const QByteArray& content,
                        const std::vector<QByteArray>& synced) const {
    const Inode& n = inodes_[size_t(id)];
    const bool isSynced = row < int(synced.size());
    if (isSynced && synced[size_t(row)] == content)
        return true;
    const auto it = n.versions.find(row);
    if (it == n.versions.end())
        return false;
    for (const Version& v : it->second)
        if (v.content == content && (!isSynced || v.op > n.lastSync))
            return true;
    return false;
}

} // namespace crash
