// Code pages of the table texts: Windows-1250 for the tables this program
// writes, and what older tables may be marked with.
#pragma once

#include <QByteArray>
#include <QString>

namespace qta::dbf {

enum class CodePage { Cp1250, Cp852, Cp1252, Utf8 };

QString decodeText(CodePage cp, const char* p, int n);
// Returns false, with the offending character in `bad`, when the text holds a
// character the code page cannot store.
bool encodeText(CodePage cp, const QString& s, QByteArray& out, QString& bad);
QString codePageName(CodePage cp);
// shapelib reports the code page as the text of a .cpg file beside the table
// or, without one, as "LDID/<language driver byte of the header>".
CodePage codePageOf(const char* shp);

} // namespace qta::dbf
