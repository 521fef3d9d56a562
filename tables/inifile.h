// Settings files (INI): the one way the program reads them. The file is read
// whole, a UTF-8 signature is taken off (and remembered, so a rewrite can put
// it back), and the text goes into the INI reader with the flags every
// settings file uses: UTF-8 bytes passed through untouched (a file in a local
// 8-bit code page reads as before: its bytes come back as they were), one
// value per key, no multi-line values.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Narrow characters, no conversion: set here so that every file using the
// reader sees the same type.
#ifndef SI_NO_CONVERSION
#define SI_NO_CONVERSION
#endif
#ifndef SI_IMPLEMENTATION
#define SI_IMPLEMENTATION
#endif
#include <SimpleIni.h>

namespace qta {

struct TIniFile {
    enum EStatus {
        Read,    // the file was read and parsed
        Missing, // there is no such file: callers with defaults take them
        Failed,  // the file is there but cannot be used; see reason/error
    };
    EStatus status = Failed;
    // The bytes read, without the signature.
    QByteArray text;
    // The file began with the UTF-8 signature (EF BB BF).
    bool signature = false;
    // Why it was not read, in Polish ("brak dostępu"), for a caller that names
    // the file itself; empty when read.
    QString reason;
    // The whole Polish message naming the file and the reason ("nie można
    // odczytać pliku /etc/x.ini: brak dostępu"); empty when read.
    QString error;

    bool ok() const { return status == Read; }
};

// Reads `path` into `ini` (emptied first, and left empty unless read). A file
// holding a zero byte is refused: the reader would stop there and the rest of
// the settings would silently vanish, or be cut off when the file is rewritten.
TIniFile readIniFile(const QString& path, CSimpleIniA& ini);

// A key of `section` that holds a whole number: `def` when `text` is empty;
// outside lo..hi or not a number, `def` and one line in `errors`
// ("[mqtt]: Port=0 poza zakresem 1..65535").
int iniNumber(const char* section, const char* key, const QString& text, int def, int lo, int hi,
              QStringList& errors);
// A file a key names: relative names are taken from `baseDir` (the
// configuration's folder); empty stays empty.
QString iniFilePath(const QString& baseDir, const QString& text);

} // namespace qta
