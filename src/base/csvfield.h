#pragma once
// One field of a CSV file as other programs read it: UTF-8, enclosed in
// double quotes (inner quotes doubled) when it holds ",", a quote or a line
// break.

#include <QByteArray>

// From a code page 1251 text.
QByteArray CsvField(const QByteArray &cp1251);
