#pragma once
// Variable lists and archives made from names and rows of values.

#include "instrument/devicearchive.h"
#include "protocol/opvarlist.h"

#include <QByteArray>
#include <QList>
#include <memory>

inline std::unique_ptr<TOPVarList> varListOf(const QList<QByteArray> &names)
{
    auto list = std::make_unique<TOPVarList>();
    for (const QByteArray &name : names)
        list->Add(name);
    return list;
}

inline QList<QByteArray> namesOf(const TOPVarList *list)
{
    QList<QByteArray> names;
    for (int i = 0; list && i < list->Count(); ++i)
        names.append(list->GetItem(i)->Name);
    return names;
}

// An archive of these columns, one record per row (a short row leaves the
// last columns out of its record).
inline std::unique_ptr<TDeviceArchive> archiveOf(const QList<QByteArray> &names,
                                                 const QList<QList<QByteArray>> &rows)
{
    auto archive = std::make_unique<TDeviceArchive>();
    archive->SetNames(*varListOf(names));
    for (const auto &row : rows) {
        TOPVarList record;
        for (int c = 0; c < row.size(); ++c)
            record.Add(names.value(c), "A001", row[c]);
        archive->AddRecord(record);
    }
    return archive;
}
