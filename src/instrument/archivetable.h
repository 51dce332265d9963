#pragma once
// An archive seen as a record table (see base/recordtable.h). The archive
// must outlive the table and not change while it is read.

#include "base/recordtable.h"

class TDeviceArchive;

class TArchiveTable : public TRecordTable {
public:
    explicit TArchiveTable(const TDeviceArchive &archive) : archive_(archive) {}

    QList<QByteArray> Columns() const override;
    int RecordCount() const override;
    std::optional<QByteArrayView> Text(int record, int column) const override;

private:
    const TDeviceArchive &archive_;
};
