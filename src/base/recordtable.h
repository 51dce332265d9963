#pragma once
// Records as texts by column: what an archive file and the site database
// both give. Statistics and reports read records through this, whichever
// holds them. Names and values are code page 1251, as recorded.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

class TRecordTable {
public:
    virtual ~TRecordTable() = default;
    virtual QList<QByteArray> Columns() const = 0;
    virtual int RecordCount() const = 0;
    // One value; none when the record holds no value there (the installation
    // gave none). The view stays valid while the table does not change.
    virtual std::optional<QByteArrayView> Text(int record, int column) const = 0;

    // The column of that name, ignoring the case of ASCII letters, or -1.
    int ColumnIndex(QByteArrayView name) const
    {
        const QList<QByteArray> columns = Columns();
        for (int i = 0; i < columns.size(); ++i)
            if (columns[i].compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }
};
