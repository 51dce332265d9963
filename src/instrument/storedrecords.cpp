#include "instrument/storedrecords.h"

#include "instrument/devicearchive.h"
#include "instrument/ormak.h"

void SetStoredColumns(const QList<QByteArray> &columns, TDeviceArchive &archive)
{
    const TORMAK variables(nullptr);
    TOPVarList names;
    TOPVarList descriptions;
    for (const QByteArray &column : columns) {
        names.Add(column);
        const TOPVarListItem *description =
            variables.ArchiveDescriptions->GetItem(variables.ArchiveVars->IndexOfName(column));
        descriptions.Add(description ? description->Name : QByteArray());
    }
    archive.Clear();
    archive.SetNames(names);
    archive.SetDescriptions(descriptions);
}

void AddStoredRecord(const QList<QByteArray> &columns, const QList<std::optional<QByteArray>> &values,
                     TDeviceArchive &archive)
{
    TOPVarList record;
    for (int c = 0; c < columns.size(); ++c)
        record.Add(columns[c], QByteArray(), values.value(c).value_or(QByteArray("@@")));
    archive.AddRecord(record);
}
