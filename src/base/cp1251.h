#pragma once
// The one codec between the program's single-byte texts (code page 1251) and
// Unicode. The widgets and the terminal output convert here and nowhere else.

#include <QByteArray>
#include <QString>

QString FromCp1251(const QByteArray &bytes);
// Characters that code page 1251 cannot hold become '?'.
QByteArray ToCp1251(const QString &text);

// A code page 1251 text from UTF-8 source text: Cp("Общее").
inline QByteArray Cp(const char *utf8) { return ToCp1251(QString::fromUtf8(utf8)); }
