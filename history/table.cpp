// The two local tables are plain dBase files so that any spreadsheet can open
// them. shapelib does the file format; this layer adds what the program needs
// on top of it:
//   - every Post reaches the file before it returns (row, then header count,
//     then fflush), so another process, or a crash right after, sees the row;
//   - a table torn by a crash or power loss (header count and file length
//     disagree) opens with the complete rows it holds, and the next append
//     continues right after them;
//   - texts are stored in the table's code page (Windows-1250 for the tables
//     the tool creates) and read back unchanged;
//   - the date-and-time field is the 8-byte 'T' type (Julian day and
//     milliseconds since midnight), which shapelib only passes through.
#include "history/table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <shapefil.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <vector>

namespace qta {

namespace {

// ---------------------------------------------------------------------------
// Code pages
//
// Own tables rather than QStringConverter: without ICU (the usual Windows
// build of Qt) it knows no Windows-1250 at all, and the tables are small.
// Bytes a code page leaves undefined map to the C1 control of the same value,
// so that whatever is in a file survives a read and a rewrite.

enum class CodePage { Cp1250, Cp852, Cp1252, Utf8 };

const char16_t kCp1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039,
    0x015A, 0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
    0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
    0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// The Eastern European DOS code page, found in tables made by DOS-era tools.
const char16_t kCp852[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x016F, 0x0107, 0x00E7, 0x0142, 0x00EB, 0x0150, 0x0151,
    0x00EE, 0x0179, 0x00C4, 0x0106, 0x00C9, 0x0139, 0x013A, 0x00F4, 0x00F6, 0x013D, 0x013E, 0x015A,
    0x015B, 0x00D6, 0x00DC, 0x0164, 0x0165, 0x0141, 0x00D7, 0x010D, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x0104, 0x0105, 0x017D, 0x017E, 0x0118, 0x0119, 0x00AC, 0x017A, 0x010C, 0x015F, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x011A, 0x015E, 0x2563, 0x2551, 0x2557,
    0x255D, 0x017B, 0x017C, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x0102, 0x0103,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x0111, 0x0110, 0x010E, 0x00CB,
    0x010F, 0x0147, 0x00CD, 0x00CE, 0x011B, 0x2518, 0x250C, 0x2588, 0x2584, 0x0162, 0x016E, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x0143, 0x0144, 0x0148, 0x0160, 0x0161, 0x0154, 0x00DA, 0x0155, 0x0170,
    0x00FD, 0x00DD, 0x0163, 0x00B4, 0x00AD, 0x02DD, 0x02DB, 0x02C7, 0x02D8, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x02D9, 0x0171, 0x0158, 0x0159, 0x25A0, 0x00A0,
};

// Western Windows: Latin-1 except for 0x80..0x9F.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t upperHalf(CodePage cp, unsigned char b) {
    switch (cp) {
    case CodePage::Cp1250: return kCp1250[b - 0x80];
    case CodePage::Cp852: return kCp852[b - 0x80];
    default: return b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b);
    }
}

QString decodeText(CodePage cp, const char* p, int n) {
    if (cp == CodePage::Utf8)
        return QString::fromUtf8(p, n);
    QString s(n, Qt::Uninitialized);
    QChar* out = s.data();
    for (int i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        out[i] = QChar(b < 0x80 ? char16_t(b) : upperHalf(cp, b));
    }
    return s;
}

// Returns false, with the offending character in `bad`, when the text holds a
// character the code page cannot store.
bool encodeText(CodePage cp, const QString& s, QByteArray& out, QString& bad) {
    if (cp == CodePage::Utf8) {
        out = s.toUtf8();
        return true;
    }
    out.clear();
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s.at(i).unicode();
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        int found = -1;
        for (int b = 0x80; b < 0x100 && found < 0; ++b)
            if (upperHalf(cp, static_cast<unsigned char>(b)) == c)
                found = b;
        if (found < 0) {
            const bool pair = s.at(i).isHighSurrogate() && i + 1 < s.size();
            bad = s.mid(i, pair ? 2 : 1);
            return false;
        }
        out.append(char(found));
    }
    return true;
}

QString codePageName(CodePage cp) {
    switch (cp) {
    case CodePage::Cp1250: return QStringLiteral("CP1250");
    case CodePage::Cp852: return QStringLiteral("CP852");
    case CodePage::Cp1252: return QStringLiteral("CP1252");
    case CodePage::Utf8: return QStringLiteral("UTF-8");
    }
    return {};
}

// shapelib reports the code page as the text of a .cpg file beside the table
// or, without one, as "LDID/<language driver byte of the header>".
CodePage codePageOf(const char* shp) {
    const QString s = QString::fromLatin1(shp ? shp : "").trimmed().toUpper();
    if (s.startsWith(QLatin1String("LDID/"))) {
        switch (s.mid(5).toInt()) {
        case 0x64: // Eastern European DOS
            return CodePage::Cp852;
        case 0x03: // Western Windows
            return CodePage::Cp1252;
        default:
            // 0xC8 is Eastern European Windows. 0x57 means "the PC's Windows
            // code page", which is Windows-1250 on the Polish PCs these tables
            // live on. Any other or no marking: assume Windows-1250 as well,
            // the code page of every table this program has ever written.
            return CodePage::Cp1250;
        }
    }
    QString digits;
    for (const QChar c : s)
        if (c.isDigit())
            digits += c;
    if (s.contains(QLatin1String("UTF-8")) || s.contains(QLatin1String("UTF8")) ||
        digits == u"65001")
        return CodePage::Utf8;
    if (digits == u"852")
        return CodePage::Cp852;
    if (digits == u"1252" || digits == u"88591")
        return CodePage::Cp1252;
    return CodePage::Cp1250; // "1250", "ANSI 1250", unknown: as above
}

// ---------------------------------------------------------------------------
// File access for shapelib
//
// Own hooks so that (a) the exact file name is opened whatever its extension
// (shapelib swaps the extension for ".dbf"/".DBF"), and (b) a failed write,
// seek or flush is noticed: shapelib itself ignores the result of its final
// flush, and Post must not report success for a row that never reached the
// file. Tables are touched from the user-interface thread only; the state is
// thread_local all the same.

thread_local QString tPath; // the table file during open/create
thread_local bool tIoFailed = false;
thread_local QString tShpError;

bool isDbfName(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 &&
           (std::strcmp(name + n - 4, ".dbf") == 0 || std::strcmp(name + n - 4, ".DBF") == 0);
}

SAFile hookOpen(const char* name, const char* access) {
    const QString path =
        (isDbfName(name) && !tPath.isEmpty()) ? tPath : QFile::decodeName(QByteArray(name));
#ifdef _WIN32
    FILE* f = _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()),
                      reinterpret_cast<const wchar_t*>(QString::fromLatin1(access).utf16()));
#else
    FILE* f = std::fopen(QFile::encodeName(path).constData(), access);
#endif
    return reinterpret_cast<SAFile>(f);
}

FILE* F(SAFile f) { return reinterpret_cast<FILE*>(f); }

SAOffset hookRead(void* p, SAOffset size, SAOffset n, SAFile f) {
    return std::fread(p, size, n, F(f));
}

SAOffset hookWrite(void* p, SAOffset size, SAOffset n, SAFile f) {
    const SAOffset done = std::fwrite(p, size, n, F(f));
    if (done != n)
        tIoFailed = true;
    return done;
}

SAOffset hookSeek(SAFile f, SAOffset offset, int whence) {
#ifdef _WIN32
    const int r = _fseeki64(F(f), static_cast<__int64>(offset), whence);
#else
    const int r = fseeko(F(f), static_cast<off_t>(offset), whence);
#endif
    if (r != 0)
        tIoFailed = true;
    return r == 0 ? 0 : 1;
}

SAOffset hookTell(SAFile f) {
#ifdef _WIN32
    return static_cast<SAOffset>(_ftelli64(F(f)));
#else
    return static_cast<SAOffset>(ftello(F(f)));
#endif
}

int hookFlush(SAFile f) {
    const int r = std::fflush(F(f));
    if (r != 0)
        tIoFailed = true;
    return r;
}

int hookClose(SAFile f) {
    const int r = std::fclose(F(f));
    if (r != 0)
        tIoFailed = true;
    return r;
}

int hookRemove(const char* name) { return std::remove(name); }

void hookError(const char* message) { tShpError = QString::fromLocal8Bit(message); }

double hookAtof(const char* s) { return std::atof(s); }

SAHooks makeHooks() {
    SAHooks h;
    SASetupDefaultHooks(&h);
    h.FOpen = hookOpen;
    h.FRead = hookRead;
    h.FWrite = hookWrite;
    h.FSeek = hookSeek;
    h.FTell = hookTell;
    h.FFlush = hookFlush;
    h.FClose = hookClose;
    h.Remove = hookRemove;
    h.Error = hookError;
    h.Atof = hookAtof;
    return h;
}

// Starts an I/O sequence whose failure is checked afterwards.
void resetIo() {
    tIoFailed = false;
    tShpError.clear();
}

QString ioFailure() {
    return tShpError.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : tShpError;
}

// ---------------------------------------------------------------------------
// Field values

struct Field {
    QString name;
    char type = 'C';
    int offset = 0;
    int width = 0;
    int decimals = 0;
};

quint32 le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

void putLe32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

bool allBytes(const char* p, int n, char c) {
    for (int i = 0; i < n; ++i)
        if (p[i] != c)
            return false;
    return true;
}

// Text without the padding (trailing blanks, or NULs some writers use).
int textLength(const char* p, int n) {
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0'))
        --n;
    return n;
}

// A number written as text: blanks around it, nothing else. Empty, '*'-filled
// (the usual NULL of numeric fields) or anything else: no number.
bool parseNumber(const char* p, int n, double& value) {
    int b = 0;
    while (b < n && p[b] == ' ')
        ++b;
    int e = n;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    if (b == e)
        return false;
    if (p[b] == '+')
        ++b;
    const auto r = std::from_chars(p + b, p + e, value);
    return r.ec == std::errc() && r.ptr == p + e;
}

bool isDateType(char t) { return t == 'T' || t == 'D'; }
bool isNumberType(char t) { return t == 'N' || t == 'F'; }

// The wall-clock date and time a field holds; false when it is empty or not
// a date.
bool fieldWallTime(const Field& f, const char* rec, QDate& date, int& ms) {
    const char* p = rec + f.offset;
    if (f.type == 'T' && f.width == 8) {
        if (allBytes(p, 8, '\0') || allBytes(p, 8, ' '))
            return false;
        date = QDate::fromJulianDay(le32(p));
        const quint32 t = le32(p + 4);
        ms = int(t);
        return date.isValid() && t < 86400000u;
    }
    if (f.type == 'D' && f.width == 8) {
        date = QDate::fromString(QString::fromLatin1(p, 8), QStringLiteral("yyyyMMdd"));
        ms = 0;
        return date.isValid();
    }
    if (f.type == 'C') {
        const QString s = QString::fromLatin1(p, textLength(p, f.width)).trimmed();
        QDateTime dt = QDateTime::fromString(s, Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        date = dt.date();
        ms = dt.time().msecsSinceStartOfDay();
        return dt.isValid();
    }
    return false;
}

// The tables hold the PC's local wall time. A local-time QDateTime consults
// the system's time-zone rules each time it is made, which costs more than
// all the rest of reading a row, and the chart windows read every row every
// few seconds. So the UTC offset is looked up once per quarter of an hour of
// wall time, and the result carries it as a fixed offset: the same instant and
// the same wall time as the local-time value.
class LocalClock {
public:
    QDateTime at(const QDate& date, int ms) {
        constexpr int kQuarter = 15 * 60 * 1000;
        const qint64 key = date.toJulianDay() * 96 + ms / kQuarter;
        if (key != key_) {
            const QTime start = QTime::fromMSecsSinceStartOfDay(ms / kQuarter * kQuarter);
            offset_ = QDateTime(date, start, Qt::LocalTime).offsetFromUtc();
            key_ = key;
        }
        return QDateTime(date, QTime::fromMSecsSinceStartOfDay(ms), Qt::OffsetFromUTC, offset_);
    }

private:
    qint64 key_ = std::numeric_limits<qint64>::min();
    int offset_ = 0;
};

bool fieldIsNull(const Field& f, const char* rec) {
    const char* p = rec + f.offset;
    if (f.type == 'T') {
        QDate date;
        int ms = 0;
        return !fieldWallTime(f, rec, date, ms);
    }
    if (isNumberType(f.type)) {
        double v;
        return !parseNumber(p, f.width, v);
    }
    if (f.type == 'D')
        return textLength(p, f.width) == 0 || allBytes(p, f.width, '0');
    return textLength(p, f.width) == 0;
}

QString fieldString(const Field& f, const char* rec, CodePage cp) {
    const char* p = rec + f.offset;
    if (isDateType(f.type)) {
        QDate date;
        int ms = 0;
        if (!fieldWallTime(f, rec, date, ms))
            return {};
        QString s = date.toString(QStringLiteral("yyyy-MM-dd"));
        if (f.type == 'T')
            s += QLatin1Char(' ') +
                 QTime::fromMSecsSinceStartOfDay(ms).toString(QStringLiteral("HH:mm:ss"));
        return s;
    }
    if (f.type == 'C')
        return decodeText(cp, p, textLength(p, f.width));
    // Numbers and whatever else: the characters as stored, without padding.
    return QString::fromLatin1(p, f.width).trimmed();
}

QString typeName(char t) { return QString(QLatin1Char(t)); }

// ---------------------------------------------------------------------------
// Layout of a table file as found on disk.

struct Layout {
    int headerLength = 0;
    int recordLength = 0;
    qint64 headerCount = 0;
    qint64 fileSize = 0;
    int rows = 0;          // complete rows the table opens with
    bool tornTail = false; // bytes after the last complete row other than the end mark
};

bool knownVersion(unsigned char v) {
    // dBase II..V, FoxBASE/FoxPro and Visual FoxPro, with and without memo.
    static const unsigned char kKnown[] = {0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43,
                                           0x63, 0x83, 0x8B, 0x8E, 0xCB, 0xE5, 0xF5, 0xFB};
    return std::find(std::begin(kKnown), std::end(kKnown), v) != std::end(kKnown);
}

QString notDbase(const QString& path, const QString& why) {
    return QStringLiteral("Plik %1 nie jest tabelą dBase (%2)").arg(path, why);
}

void checkExists(const QString& path) {
    const QFileInfo fi(path);
    if (!fi.absoluteDir().exists())
        throw ETable(QStringLiteral("Brak folderu %1 z tabelą %2")
                         .arg(QDir::toNativeSeparators(fi.absolutePath()), path));
    if (!fi.exists())
        throw ETable(QStringLiteral("Brak pliku tabeli %1").arg(path));
    if (fi.isDir())
        throw ETable(QStringLiteral("%1 jest folderem, nie tabelą").arg(path));
}

// Reads the header and works out how many complete rows the file holds.
//
// The rows are those that fit whole into the file length; the header count is
// not trusted, since an append torn by a crash leaves it one behind (row
// written, count not) or, after a power loss, a count ahead of the rows that
// reached the disk. Rows beyond the header count are taken only if their
// first byte is a valid row mark (' ' or '*'): a file that the file system
// extended with zeros, or the end mark followed by leftovers, does not count.
Layout scanLayout(const QString& path) {
    checkExists(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ETable(QStringLiteral("Nie można otworzyć tabeli %1: %2").arg(path, f.errorString()));
    Layout l;
    l.fileSize = f.size();
    const QByteArray h = f.read(32);
    if (h.size() < 32)
        throw ETable(notDbase(path, QStringLiteral("plik krótszy niż nagłówek")));
    const auto* u = reinterpret_cast<const unsigned char*>(h.constData());
    if (!knownVersion(u[0]))
        throw ETable(notDbase(
            path, QStringLiteral("nieznany znacznik 0x%1").arg(u[0], 2, 16, QLatin1Char('0'))));
    l.headerCount = le32(h.constData() + 4) & 0x7FFFFFFF;
    l.headerLength = u[8] | u[9] << 8;
    l.recordLength = u[10] | u[11] << 8;
    if (l.headerLength < 64 || l.recordLength < 2 || l.headerLength > l.fileSize)
        throw ETable(notDbase(path, QStringLiteral("niespójny nagłówek")));

    const qint64 data = l.fileSize - l.headerLength;
    const qint64 complete = data / l.recordLength;
    if (complete > std::numeric_limits<int>::max())
        throw ETable(notDbase(path, QStringLiteral("za duży plik")));
    qint64 rows = std::min(l.headerCount, complete);
    while (rows < complete) {
        char mark = 0;
        if (!f.seek(l.headerLength + rows * l.recordLength) || f.read(&mark, 1) != 1 ||
            (mark != ' ' && mark != '*'))
            break;
        ++rows;
    }
    l.rows = int(rows);
    const qint64 end = l.headerLength + rows * qint64(l.recordLength);
    l.tornTail = false;
    if (l.fileSize > end) {
        char mark = 0;
        l.tornTail = l.fileSize > end + 1 || !f.seek(end) || f.read(&mark, 1) != 1 || mark != 0x1A;
    }
    return l;
}

std::vector<Field> fieldsOf(DBFHandle h) {
    std::vector<Field> out;
    const int n = DBFGetFieldCount(h);
    out.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        char name[XBASE_FLDNAME_LEN_READ + 1] = {};
        int width = 0;
        int decimals = 0;
        DBFGetFieldInfo(h, i, name, &width, &decimals);
        Field f;
        f.name = QString::fromLatin1(name).trimmed();
        f.type = DBFGetNativeFieldType(h, i);
        f.offset = h->panFieldOffset[i];
        f.width = width;
        f.decimals = decimals;
        out.push_back(f);
    }
    return out;
}

struct FieldDef {
    const char* name;
    char type;
    int width;
};

void createTable(const QString& fileName, const std::vector<FieldDef>& fields) {
    const QFileInfo fi(fileName);
    if (!fi.absoluteDir().exists())
        throw ETable(QStringLiteral("Brak folderu %1 na tabelę %2")
                         .arg(QDir::toNativeSeparators(fi.absolutePath()), fileName));
    if (fi.exists())
        throw ETable(
            QStringLiteral("Tabela %1 już istnieje; nie zostanie zastąpiona").arg(fileName));
    {
        // Claim the name first: the library's own create truncates whatever
        // is there, and two tools started at once must not both succeed.
        QFile claim(fileName);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw ETable(QStringLiteral("Nie można utworzyć tabeli %1: %2")
                             .arg(fileName, claim.errorString()));
    }
    SAHooks hooks = makeHooks();
    resetIo();
    tPath = fileName;
    // Language driver 0xC8 (200) marks Eastern European Windows, i.e.
    // Windows-1250, in the header itself; no .cpg file is written.
    DBFHandle h = DBFCreateLL(QFile::encodeName(fileName).constData(), "LDID/200", &hooks);
    tPath.clear();
    bool ok = h != nullptr;
    if (h) {
        for (const FieldDef& s : fields)
            ok = ok && DBFAddNativeFieldType(h, s.name, s.type, s.width, 0) >= 0;
        const QDate today = QDate::currentDate();
        DBFSetLastModifiedDate(h, today.year() - 1900, today.month(), today.day());
        DBFClose(h);
    }
    if (!ok || tIoFailed) {
        const QString why = ioFailure();
        QFile::remove(fileName);
        throw ETable(QStringLiteral("Nie można utworzyć tabeli %1: %2").arg(fileName, why));
    }
}

} // namespace

QString fromWindows1250(const QByteArray& bytes) {
    return decodeText(CodePage::Cp1250, bytes.constData(), int(bytes.size()));
}

// ---------------------------------------------------------------------------

struct TTable::Impl {
    QString path;
    DBFHandle h = nullptr;
    bool writable = false;
    std::vector<Field> fields;
    int headerLength = 0;
    int recordLength = 0;
    int rows = 0;
    bool tornTail = false;
    CodePage cp = CodePage::Cp1250;
    int cur = -1;
    bool pending = false;
    bool pendingModified = false;
    QByteArray pendingRow;
    mutable LocalClock clock;
    mutable QByteArray block; // rows blockFirst .. blockFirst + blockRows - 1
    mutable int blockFirst = 0;
    mutable int blockRows = 0;

    ~Impl() { closeHandle(h); }

    static void closeHandle(DBFHandle& handle) {
        if (!handle)
            return;
        // Every change has been flushed with its header already; this keeps
        // DBFClose from writing a header of its own over one that another
        // process may have written since.
        handle->bUpdated = 0;
        DBFClose(handle);
        handle = nullptr;
    }

    void requireOpen() const {
        if (!h)
            throw ETable(QStringLiteral("Tabela %1 nie jest otwarta").arg(path));
    }

    void requireWritable() const {
        requireOpen();
        if (!writable)
            throw ETable(QStringLiteral("Tabela %1 jest tylko do odczytu").arg(path));
    }

    const Field& field(int index) const {
        requireOpen();
        if (index < 0 || index >= int(fields.size()))
            throw ETable(QStringLiteral("Tabela %1 nie ma pola numer %2").arg(path).arg(index));
        return fields[size_t(index)];
    }

    // Opens the file and replaces the handle; the old state stays when it fails.
    void attach() {
        const Layout l = scanLayout(path);
        SAHooks hooks = makeHooks();
        const QByteArray name = QFile::encodeName(path);
        resetIo();
        tPath = path;
        bool canWrite = true;
        DBFHandle nh = DBFOpenLL(name.constData(), "rb+", &hooks);
        if (!nh) {
            canWrite = false;
            nh = DBFOpenLL(name.constData(), "rb", &hooks);
        }
        tPath.clear();
        if (!nh)
            throw ETable(notDbase(path, QStringLiteral("nagłówka nie da się odczytać")));
        std::vector<Field> fs = fieldsOf(nh);
        int sum = 1;
        for (const Field& f : fs)
            sum += f.width;
        if (fs.empty() || sum != l.recordLength) {
            closeHandle(nh);
            throw ETable(
                notDbase(path, QStringLiteral("opis pól nie zgadza się z długością wiersza")));
        }
        // The library takes the header count as the number of rows; the rows
        // actually present are what counts (see scanLayout).
        nh->nRecords = l.rows;
        const CodePage page = codePageOf(DBFGetCodePage(nh));

        closeHandle(h);
        h = nh;
        blockRows = 0;
        writable = canWrite;
        fields = std::move(fs);
        headerLength = l.headerLength;
        recordLength = l.recordLength;
        rows = l.rows;
        tornTail = l.tornTail;
        cp = page;
    }

    const char* row(int r) const {
        requireOpen();
        if (r < 0 || r >= rows)
            throw ETable(QStringLiteral("Tabela %1 nie ma wiersza %2 (wierszy: %3)")
                             .arg(path)
                             .arg(r)
                             .arg(rows));
        if (r < blockFirst || r >= blockFirst + blockRows)
            loadBlock(r);
        return block.constData() + qsizetype(r - blockFirst) * recordLength;
    }

    // Rows are read some 64 KiB at a time rather than one by one through the
    // library: a chart refresh reads every row in order, and a row per read
    // costs a seek and a read of the file each. Going backwards (a grid
    // scrolled up) fills the block towards the start.
    void loadBlock(int r) const {
        const int n = std::max(1, 65536 / recordLength);
        int first = r;
        if (blockRows > 0 && r == blockFirst - 1)
            first = std::max(0, r - n + 1);
        const int count = std::min(n, rows - first);
        blockRows = 0;
        block.resize(qsizetype(count) * recordLength);
        resetIo();
        const auto offset = SAOffset(headerLength) + SAOffset(first) * SAOffset(recordLength);
        const bool ok = hookSeek(h->fp, offset, SEEK_SET) == 0 &&
                        hookRead(block.data(), SAOffset(recordLength), SAOffset(count), h->fp) ==
                            SAOffset(count);
        // A stream must seek between a read and a write; the library's next
        // write may not.
        hookSeek(h->fp, 0, SEEK_CUR);
        if (!ok)
            throw ETable(QStringLiteral("Nie można odczytać wiersza %1 tabeli %2: %3")
                             .arg(r)
                             .arg(path, ioFailure()));
        blockFirst = first;
        blockRows = count;
    }

    // The record the field accessors work on: the row being appended, else
    // the current row; nullptr when there is neither.
    const char* currentRecord() const {
        if (pending)
            return pendingRow.constData();
        if (cur < 0)
            return nullptr;
        return row(cur);
    }

    QDateTime dateTime(const Field& f, const char* rec) const {
        QDate date;
        int ms = 0;
        return fieldWallTime(f, rec, date, ms) ? clock.at(date, ms) : QDateTime();
    }

    QByteArray blankRecord() const {
        QByteArray r(recordLength, ' ');
        for (const Field& f : fields)
            if (f.type == 'T')
                std::memset(r.data() + f.offset, 0, size_t(f.width));
        return r;
    }

    // Bytes of a text for a field: in the table's code page, padded with blanks.
    QByteArray textBytes(const Field& f, const QString& v) const {
        QByteArray enc;
        QString bad;
        if (!encodeText(cp, v, enc, bad))
            throw ETable(QStringLiteral("Tabela %1, pole %2: znaku „%3” nie da się zapisać w "
                                        "stronie kodowej %4")
                             .arg(path, f.name, bad, codePageName(cp)));
        if (enc.size() > f.width)
            throw ETable(QStringLiteral("Tabela %1, pole %2: tekst za długi (%3 znaków, "
                                        "mieści się %4)")
                             .arg(path, f.name)
                             .arg(v.size())
                             .arg(f.width));
        return enc.leftJustified(f.width, ' ');
    }

    QByteArray numberBytes(const Field& f, double v, bool integral) const {
        char buf[64];
        int n = -1;
        if (std::isfinite(v) && std::fabs(v) < 1e18) {
            if (integral && f.decimals == 0)
                n = std::snprintf(buf, sizeof buf, "%*lld", f.width, static_cast<long long>(v));
            else
                n = std::snprintf(buf, sizeof buf, "%*.*f", f.width, f.decimals, v);
        }
        if (n < 0 || n > f.width)
            throw ETable(QStringLiteral("Tabela %1, pole %2: liczba %3 nie mieści się w %4 znakach")
                             .arg(path, f.name)
                             .arg(v)
                             .arg(f.width));
        return QByteArray(buf, n);
    }

    QByteArray dateTimeBytes(const Field& f, const QDateTime& v) const {
        if (!v.isValid())
            return f.type == 'T' ? QByteArray(f.width, '\0') : QByteArray(f.width, ' ');
        // The tables hold the PC's local wall time.
        const QDateTime local = v.timeSpec() == Qt::LocalTime ? v : v.toLocalTime();
        if (f.type == 'T' && f.width == 8) {
            QByteArray b(8, '\0');
            putLe32(b.data(), quint32(local.date().toJulianDay()));
            putLe32(b.data() + 4, quint32(local.time().msecsSinceStartOfDay()));
            return b;
        }
        if (f.type == 'D' && f.width == 8)
            return local.date().toString(QStringLiteral("yyyyMMdd")).toLatin1();
        if (f.type == 'C')
            return textBytes(f, local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        throw ETable(QStringLiteral("Tabela %1, pole %2 (typ %3) nie przyjmuje daty")
                         .arg(path, f.name, typeName(f.type)));
    }

    // Puts the bytes of one field into the row being appended.
    void setPending(const Field& f, const QByteArray& bytes) {
        std::memcpy(pendingRow.data() + f.offset, bytes.constData(), size_t(f.width));
        pendingModified = true;
    }

    void requirePending(const Field& f) const {
        if (!pending)
            throw ETable(QStringLiteral("Tabela %1: pole %2 można ustawić tylko w dopisywanym "
                                        "wierszu (Append)")
                             .arg(path, f.name));
    }

    // Moving away from a new row that has values posts it rather than
    // dropping them; the copy uses Cancel where a row must not be kept.
    void settlePending() {
        if (pending && pendingModified)
            post();
        pending = false;
        pendingModified = false;
    }

    void post() {
        if (!pending)
            return;
        requireWritable();
        if (tornTail) {
            // Leftovers of a torn append go before the new row is written, so
            // the file ends exactly after its rows again.
            if (!QFile::resize(path, headerLength + qint64(rows) * recordLength))
                throw ETable(QStringLiteral("Nie można naprawić końca tabeli %1").arg(path));
            tornTail = false;
        }
        resetIo();
        const QDate today = QDate::currentDate();
        DBFSetLastModifiedDate(h, today.year() - 1900, today.month(), today.day());
        const bool ok = DBFWriteTuple(h, rows, pendingRow.data());
        if (ok)
            DBFUpdateHeader(h);
        if (!ok || tIoFailed) {
            // Forget what the library holds of the row; the next Post starts
            // over from a file trimmed back to its complete rows.
            const QString why = ioFailure();
            h->nRecords = rows;
            h->nCurrentRecord = -1;
            h->bCurrentRecordModified = 0;
            tornTail = true;
            throw ETable(
                QStringLiteral("Nie udało się zapisać wiersza do tabeli %1: %2").arg(path, why));
        }
        h->bUpdated = 0;
        cur = rows;
        ++rows;
        pending = false;
        pendingModified = false;
    }

    void rewrite(int r, int index, const QString& value) {
        requireWritable();
        const Field& f = field(index);
        // Posted rows are the record of what happened; only the remarks the
        // user adds to them may change afterwards.
        if (f.type != 'C' || f.name.compare(QLatin1String("UWAGI"), Qt::CaseInsensitive) != 0)
            throw ETable(QStringLiteral("Tabela %1: w zapisanym wierszu można zmienić tylko "
                                        "UWAGI, nie pole %2")
                             .arg(path, f.name));
        const QByteArray bytes = textBytes(f, value);
        QByteArray rec(row(r), recordLength);
        std::memcpy(rec.data() + f.offset, bytes.constData(), size_t(f.width));
        blockRows = 0; // the block may hold the old row
        resetIo();
        const bool ok = DBFWriteTuple(h, r, rec.data());
        if (ok)
            DBFUpdateHeader(h);
        if (!ok || tIoFailed) {
            const QString why = ioFailure();
            h->nCurrentRecord = -1;
            h->bCurrentRecordModified = 0;
            throw ETable(QStringLiteral("Nie udało się zapisać pola %1 w tabeli %2: %3")
                             .arg(f.name, path, why));
        }
        h->bUpdated = 0;
    }
};

// ---------------------------------------------------------------------------

TTable::TTable(const QString& fileName) : fileName_(fileName), d(std::make_unique<Impl>()) {
    d->path = fileName;
}

TTable::~TTable() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; Close() raised for a caller who could.
    }
}

void TTable::Open() {
    if (d->h)
        return;
    d->attach();
    d->cur = d->rows > 0 ? 0 : -1;
    d->pending = false;
    d->pendingModified = false;
}

void TTable::Close() {
    if (!d->h)
        return;
    std::exception_ptr failed;
    try {
        d->settlePending();
    } catch (...) {
        failed = std::current_exception();
    }
    Impl::closeHandle(d->h);
    d->pending = false;
    d->pendingModified = false;
    d->cur = -1;
    d->rows = 0;
    d->fields.clear();
    if (failed)
        std::rethrow_exception(failed);
}

bool TTable::Active() const { return d->h != nullptr; }

void TTable::Last() {
    d->requireOpen();
    d->settlePending();
    d->cur = d->rows - 1;
}

void TTable::Append() {
    d->requireWritable();
    d->settlePending();
    d->pendingRow = d->blankRecord();
    d->pending = true;
    d->pendingModified = false;
}

void TTable::Post() {
    d->requireOpen();
    d->post();
}

void TTable::Cancel() {
    d->pending = false;
    d->pendingModified = false;
}

void TTable::Refresh() {
    d->requireOpen();
    d->attach();
    if (d->cur >= d->rows)
        d->cur = d->rows - 1;
}

TField TTable::FieldByName(const QString& name) {
    d->requireOpen();
    const int i = fieldIndex(name);
    if (i < 0)
        throw ETable(QStringLiteral("Tabela %1 nie ma pola %2").arg(fileName_, name));
    return TField(this, i);
}

int TTable::fieldIndex(const QString& name) const {
    for (size_t i = 0; i < d->fields.size(); ++i)
        if (d->fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QStringList TTable::fieldNames() const {
    QStringList names;
    for (const Field& f : d->fields)
        names << f.name;
    return names;
}

int TTable::RecordCount() const {
    d->requireOpen();
    return d->rows;
}

int TTable::RecNo() const {
    if (!d->h)
        return -1;
    return d->pending ? d->rows : d->cur;
}

void TTable::setRecNo(int row) {
    d->requireOpen();
    if (row < 0 || row >= d->rows)
        throw ETable(QStringLiteral("Tabela %1 nie ma wiersza %2 (wierszy: %3)")
                         .arg(fileName_)
                         .arg(row)
                         .arg(d->rows));
    d->settlePending();
    d->cur = row;
}

QString TTable::stringValue(int row, int field) const {
    const Field& f = d->field(field);
    return fieldString(f, d->row(row), d->cp);
}

QDateTime TTable::dateTimeValue(int row, int field) const {
    const Field& f = d->field(field);
    return d->dateTime(f, d->row(row));
}

double TTable::numberValue(int row, int field) const {
    const Field& f = d->field(field);
    const char* rec = d->row(row);
    double v = 0;
    if (parseNumber(rec + f.offset, f.width, v))
        return v;
    return std::numeric_limits<double>::quiet_NaN();
}

bool TTable::isNull(int row, int field) const {
    const Field& f = d->field(field);
    return fieldIsNull(f, d->row(row));
}

void TTable::rewriteString(int row, int field, const QString& value) {
    d->rewrite(row, field, value);
}

QString TTable::codePage() const { return codePageName(d->cp); }

void TTable::createRejestr(const QString& fileName) {
    std::vector<FieldDef> fields = {
        {"INDEKS", 'N', 5},     {"DATA", 'C', 11},   {"CZAS", 'C', 5},
        {"ZDARZENIE", 'C', 80}, {"UWAGI", 'C', 254},
    };
    static const char* const kLines[3][7] = {
        {"N1_STATUS", "N1L1_UMIN", "N1L2_UMIN", "N1L3_UMIN", "N1L1_UMAX", "N1L2_UMAX", "N1L3_UMAX"},
        {"N2_STATUS", "N2L1_UMIN", "N2L2_UMIN", "N2L3_UMIN", "N2L1_UMAX", "N2L2_UMAX", "N2L3_UMAX"},
        {"N3_STATUS", "N3L1_UMIN", "N3L2_UMIN", "N3L3_UMIN", "N3L1_UMAX", "N3L2_UMAX", "N3L3_UMAX"},
    };
    for (const auto& line : kLines) {
        fields.push_back({line[0], 'C', 30});
        for (int i = 1; i < 7; ++i)
            fields.push_back({line[i], 'C', 5});
    }
    fields.push_back({"AKTYWNA", 'C', 21});
    fields.push_back({"PROGRAM", 'C', 12});
    createTable(fileName, fields);
}

void TTable::createLinia(const QString& fileName) {
    createTable(fileName, {{"CZAS", 'T', 8},
                           {"N1L1", 'N', 5},
                           {"N1L2", 'N', 5},
                           {"N1L3", 'N', 5},
                           {"N2L1", 'N', 5},
                           {"N2L2", 'N', 5},
                           {"N2L3", 'N', 5},
                           {"N3L1", 'N', 5},
                           {"N3L2", 'N', 5},
                           {"N3L3", 'N', 5}});
}

// ---------------------------------------------------------------------------

void TField::setAsString(const QString& v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    if (!d.pending) {
        // Without a new row this is the user's remark on the current row;
        // rewrite() refuses every other field.
        if (d.cur >= 0) {
            d.rewrite(d.cur, index_, v);
            return;
        }
        d.requirePending(f);
    }
    if (f.type == 'C') {
        d.setPending(f, d.textBytes(f, v));
    } else if (isNumberType(f.type)) {
        const QString t = v.trimmed();
        double x = 0;
        const QByteArray a = t.toLatin1();
        if (t.isEmpty())
            d.setPending(f, QByteArray(f.width, ' '));
        else if (parseNumber(a.constData(), int(a.size()), x))
            d.setPending(f, d.numberBytes(f, x, f.decimals == 0 && x == std::floor(x)));
        else
            throw ETable(
                QStringLiteral("Tabela %1, pole %2: „%3” nie jest liczbą").arg(d.path, f.name, v));
    } else if (isDateType(f.type)) {
        const QString t = v.trimmed();
        QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!t.isEmpty() && !dt.isValid())
            throw ETable(
                QStringLiteral("Tabela %1, pole %2: „%3” nie jest datą").arg(d.path, f.name, v));
        d.setPending(f, d.dateTimeBytes(f, dt));
    } else {
        throw ETable(QStringLiteral("Tabela %1, pole %2: typ %3 nie jest obsługiwany")
                         .arg(d.path, f.name, typeName(f.type)));
    }
}

void TField::setAsInteger(qint64 v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    d.requirePending(f);
    if (isNumberType(f.type))
        d.setPending(f, d.numberBytes(f, double(v), true));
    else if (f.type == 'C')
        d.setPending(f, d.textBytes(f, QString::number(v)));
    else
        throw ETable(QStringLiteral("Tabela %1, pole %2 (typ %3) nie przyjmuje liczby")
                         .arg(d.path, f.name, typeName(f.type)));
}

void TField::setAsDateTime(const QDateTime& v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    d.requirePending(f);
    d.setPending(f, d.dateTimeBytes(f, v));
}

QString TField::asString() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    return rec ? fieldString(f, rec, d.cp) : QString();
}

qint64 TField::asInteger() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    if (!rec)
        throw ETable(QStringLiteral("Tabela %1: brak bieżącego wiersza, pole %2 nie ma wartości")
                         .arg(d.path, f.name));
    double v = 0;
    const bool number = (isNumberType(f.type) || f.type == 'C') &&
                        parseNumber(rec + f.offset, f.width, v) && std::isfinite(v) &&
                        std::fabs(v) < 9.0e18;
    if (!number)
        throw ETable(QStringLiteral("Tabela %1, wiersz %2: pole %3 nie zawiera liczby („%4”)")
                         .arg(d.path)
                         .arg(table_->RecNo())
                         .arg(f.name, fieldString(f, rec, d.cp)));
    return qint64(std::llround(v));
}

QDateTime TField::asDateTime() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    return rec ? d.dateTime(f, rec) : QDateTime();
}

} // namespace qta
