#include "instrument/archivetable.h"

#include "instrument/devicearchive.h"

QList<QByteArray> TArchiveTable::Columns() const
{
    QList<QByteArray> columns;
    if (const TOPVarList *names = archive_.Names())
        for (int i = 0; i < names->Count(); ++i)
            columns.append(names->GetItem(i)->Name);
    return columns;
}

int TArchiveTable::RecordCount() const
{
    return archive_.RecordCount();
}

std::optional<QByteArrayView> TArchiveTable::Text(int record, int column) const
{
    return archive_.Value(record, column);
}
