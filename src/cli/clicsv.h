#pragma once
// The CSV files of kvarnctl. CSV is the tool's own format for other programs,
// so it follows the usual form rather than the program's code page: UTF-8
// without a byte-order mark, a header row, fields separated by "," and
// enclosed in double quotes (inner quotes doubled) when they hold ",", a
// quote or a line break, and LF line ends.

#include "base/csvfield.h"

#include <QByteArray>
#include <QString>

class TRadiationSpectr;
class TDeviceArchive;
class TCliConsole;

// "channel,count", then the 1024 channels.
QByteArray SpectrumCsv(const TRadiationSpectr &spectrum);
// The column names, then one row per record with one field per column.
QByteArray ArchiveCsv(const TDeviceArchive &archive);

// Writes the bytes to standard output ("-") or to the file through a
// temporary file renamed into place. False with the reason otherwise.
bool WriteCliOutput(TCliConsole &console, const QString &path, const QByteArray &bytes, QString *error);
