#include "history/linefile.h"

#include "tables/table.h"
#include "tables/tablevalues.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qta {

namespace {

quint32 le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

constexpr const char* kVoltNames[9] = {"N1L1", "N1L2", "N1L3", "N2L1", "N2L2",
                                       "N2L3", "N3L1", "N3L2", "N3L3"};

} // namespace

TLineFile::~TLineFile() { unmap(); }

void TLineFile::unmap() {
    if (data_ && file_)
        file_->unmap(reinterpret_cast<uchar*>(const_cast<char*>(data_)));
    data_ = nullptr;
    mappedSize_ = 0;
    mappedRows_ = 0;
}

void TLineFile::open(const QString& path) {
    unmap();
    path_ = path;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ETable(QStringLiteral("Nie można otworzyć tabeli %1: %2").arg(path, f.errorString()));
    const QByteArray h = f.read(32);
    if (h.size() < 32)
        throw ETable(
            QStringLiteral("Plik %1 nie jest tabelą dBase (plik krótszy niż nagłówek)").arg(path));
    const auto* u = reinterpret_cast<const unsigned char*>(h.constData());
    headerLength_ = u[8] | u[9] << 8;
    recordLength_ = u[10] | u[11] << 8;
    if (headerLength_ < 64 || recordLength_ < 2 || headerLength_ > f.size())
        throw ETable(
            QStringLiteral("Plik %1 nie jest tabelą dBase (niespójny nagłówek)").arg(path));
    f.seek(0);
    const QByteArray header = f.read(headerLength_);
    // Field descriptors: 32 bytes each from offset 32 up to the 0x0D mark.
    czas_ = -1;
    volts_.fill(-1);
    int offset = 1; // the row mark
    int end = 32;
    for (int at = 32; at + 32 <= header.size() && header[at] != '\r'; at += 32) {
        const char* d = header.constData() + at;
        const QString name = QString::fromLatin1(d, int(strnlen(d, 11))).trimmed().toUpper();
        const char type = d[11];
        const int width = static_cast<unsigned char>(d[16]);
        if (name == u"CZAS" && type == 'T' && width == 8)
            czas_ = offset;
        for (int k = 0; k < 9; ++k)
            if (name == QLatin1String(kVoltNames[k]) && (type == 'N' || type == 'F')) {
                volts_[size_t(k)] = offset;
                width_[size_t(k)] = width;
            }
        offset += width;
        end = at + 32;
    }
    if (czas_ < 0 || std::any_of(volts_.begin(), volts_.end(), [](int o) { return o < 0; }) ||
        offset > recordLength_)
        throw ETable(QStringLiteral("Plik %1 nie jest tabelą napięć linii (brak pola CZAS typu "
                                    "data i czas albo pól N1L1 ... N3L3)")
                         .arg(path));
    packed_ = true;
    for (size_t k = 0; k < 9; ++k)
        packed_ = packed_ && width_[k] == 5 && volts_[k] == volts_[0] + 5 * int(k);
    // The record count (bytes 4..7) changes with every append; the rest of the
    // header up to the field list's end does not.
    layout_ = header.left(end);
    std::memset(layout_.data() + 1, 0, 7);
    if (!remap())
        throw ETable(QStringLiteral("Nie można odczytać tabeli %1").arg(path));
}

QByteArray TLineFile::layout() const { return layout_; }

bool TLineFile::remap() {
    auto f = std::make_unique<QFile>(path_);
    if (!f->open(QIODevice::ReadOnly))
        return false;
    const qint64 size = f->size();
    if (size < mappedSize_ || size < headerLength_ || size < layout_.size())
        return false;
    uchar* p = f->map(0, size);
    if (!p)
        return false;
    QByteArray now(reinterpret_cast<const char*>(p), int(layout_.size()));
    std::memset(now.data() + 1, 0, 7);
    if (now != layout_) {
        f->unmap(p);
        return false;
    }
    unmap();
    file_ = std::move(f);
    data_ = reinterpret_cast<const char*>(p);
    mappedSize_ = size;
    mappedRows_ = (size - headerLength_) / recordLength_;
    return true;
}

qint64 TLineFile::completeRows() const {
    if (!data_)
        return 0;
    const qint64 count = le32(data_ + 4) & 0x7FFFFFFF;
    qint64 rows = std::min(count, mappedRows_);
    // Past the count, the rows that are whole as the table layer takes them
    // (dbf::findRows): a row mark or the mark of a row not yet committed, a
    // date and time, no zero byte in the voltages.
    const auto whole = [this](qint64 r) {
        const char mark = row(r)[0];
        if ((mark != ' ' && mark != '*' && mark != 0x1A) || time(r) == kNoTime)
            return false;
        for (size_t k = 0; k < volts_.size(); ++k)
            if (std::memchr(row(r) + volts_[k], 0, size_t(width_[k])) != nullptr)
                return false;
        return true;
    };
    while (rows < mappedRows_ && whole(rows))
        ++rows;
    return rows;
}

TWallMs TLineFile::decodeTime(const char* p) {
    const quint32 day = le32(p);
    const quint32 ms = le32(p + 4);
    // Julian day 1721426 is 0001-01-01; an empty field holds zeros or spaces.
    if (day < 1721426 || day > 5373484 || ms >= quint32(kMsPerDay))
        return kNoTime;
    return (qint64(day) - kJulianUnixEpoch) * kMsPerDay + qint64(ms);
}

int TLineFile::decodeVolts(const char* p, int width) {
    // The usual case: right-aligned digits after blanks.
    int i = 0;
    while (i < width && p[i] == ' ')
        ++i;
    if (i < width) {
        int v = 0, j = i;
        for (; j < width && p[j] >= '0' && p[j] <= '9'; ++j)
            v = std::min(v * 10 + (p[j] - '0'), 65535);
        if (j == width)
            return v;
    }
    // Anything else reads as the table layer reads it.
    double v = 0;
    if (!dbf::parseNumber(p, width, v) || std::isnan(v))
        return kNoVolts;
    return int(std::clamp(std::trunc(v), 0.0, 65535.0));
}

} // namespace qta
