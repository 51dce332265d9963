#pragma once
// Archive records kept elsewhere (the site database) back into the
// program's archive, as if read from the installation: the columns with the
// installation's descriptions, a missing value as "@@".

#include <QByteArray>
#include <QList>
#include <optional>

class TDeviceArchive;

// Empties the archive and gives it these columns (DATETIME first).
void SetStoredColumns(const QList<QByteArray> &columns, TDeviceArchive &archive);
// One record, values parallel to the columns; nullopt is "@@".
void AddStoredRecord(const QList<QByteArray> &columns, const QList<std::optional<QByteArray>> &values,
                     TDeviceArchive &archive);
