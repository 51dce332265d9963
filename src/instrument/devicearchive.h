#pragma once
// A set of archive records of the installation (read from it or loaded from
// an archive file), the names of the recorded variables (one per column) and
// their descriptions.
//
// Archive file (*.daf), code page 1251 text, CR LF line ends:
//   description block   "NAME<blanks to the longest name>  description", one
//                       line per column; written only when there are as many
//                       descriptions as names
//   two empty lines     (only after a description block)
//   column line         every name padded with blanks to its width + 2
//   record lines        every value padded with blanks to its width + 2
// The width of a column is the longest of its name and its values. Fields
// are separated by two or more blanks; single blanks belong to the field.

#include "protocol/opvarlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

struct TDeviceArchiveRecord {
    // One item per column: Name = column name, Value = recorded value; records
    // read from the installation carry the record index (A001, ...) as Index.
    std::unique_ptr<TOPVarList> VarList;
    // 0-based, in order of appending.
    int Number = 0;
};

class TDeviceArchive {
public:
    // Largest load a file may bring: (records + 1) x (columns + 1), the
    // record itself counted as one more value and the column line as one more
    // record. Stops a file of a huge column line and
    // many short lines from padding its way to an exhausted memory; 300 000
    // records of all twelve archive variables still fit.
    static constexpr qint64 MaxLoadedValues = 4'000'000;
    // Largest archive file that is read at all: the whole file is held in
    // memory while it is parsed. Far beyond what an archive of the
    // installation's values comes to.
    static constexpr qint64 MaxFileSize = qint64(1) << 30;

    TDeviceArchive() = default;
    virtual ~TDeviceArchive() = default;
    TDeviceArchive(const TDeviceArchive &) = delete;
    TDeviceArchive &operator=(const TDeviceArchive &) = delete;

    // Appends a copy of the list as the next record.
    void AddRecord(const TOPVarList &vars);
    // Copies of the lists; a null list leaves the archive without one.
    void SetNames(const TOPVarList *names);
    void SetNames(const TOPVarList &names) { SetNames(&names); }
    void SetDescriptions(const TOPVarList *descriptions);
    void SetDescriptions(const TOPVarList &descriptions) { SetDescriptions(&descriptions); }

    // Drops every record; the names and descriptions stay.
    void Clear();

    // The record with that number, or nullptr.
    const TDeviceArchiveRecord *GetRecord(int number) const;
    int RecordCount() const { return int(records_.size()); }
    // Either may be null: a fresh archive has neither.
    const TOPVarList *Names() const { return names_.get(); }
    const TOPVarList *Descriptions() const { return descriptions_.get(); }

    // Replaces the target's records by copies of these, then copies the names
    // and the descriptions. A missing list on this side throws EOPVarListError
    // once the records are copied (the target then keeps its old list).
    void CopyTo(TDeviceArchive &target) const;
    // The same; a null target is created first.
    void CopyTo(std::unique_ptr<TDeviceArchive> &target) const;

    // All or nothing: on false (missing or unreadable file, larger than
    // MaxFileSize, more than MaxLoadedValues values) the archive is as it was.
    bool LoadFromFile(const QString &fileName);
    // Written to a temporary file renamed into place: on false the previous
    // file stays whole.
    bool SaveToFile(const QString &fileName) const;

    // The file contents SaveToFile writes, and the parse LoadFromFile uses.
    QByteArray ToFileText() const;
    bool FromFileText(const QByteArray &text);

    // Splits a line into fields at runs of two or more blanks. A single blank
    // belongs to its field; a line that begins with two blanks gives an empty
    // first field; the last field is trimmed of blanks. At most maxFields
    // fields are taken (the rest of the line is not examined).
    static QList<QByteArray> SplitFields(QByteArrayView line, int maxFields = -1);

private:
    std::vector<TDeviceArchiveRecord> records_;
    std::unique_ptr<TOPVarList> names_;
    std::unique_ptr<TOPVarList> descriptions_;
};
