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
    // A copy made when the record is first asked for: changing it changes
    // nothing in the archive.
    std::unique_ptr<TOPVarList> VarList;
    // 0-based, in order of appending.
    int Number = 0;
};

class TDeviceArchive {
public:
    // A load is refused when what it would take in memory exceeds this many
    // bytes for every byte of the file (plus MinLoadBudget): a column line of
    // thousands of names over many short lines, or a file of nothing but line
    // ends, would otherwise pad its way to an exhausted memory. Any file that
    // SaveToFile writes needs less: every value takes at least two bytes of
    // padding in it, and a record line two more.
    static constexpr qint64 LoadBytesPerFileByte = 16;
    static constexpr qint64 MinLoadBudget = qint64(1) << 20;
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

    // The record with that number, or nullptr. The pointer stays valid until
    // the archive is cleared, loaded, copied onto or destroyed.
    const TDeviceArchiveRecord *GetRecord(int number) const;
    int RecordCount() const { return int(store_.LayoutOf.size()); }
    // Either may be null: a fresh archive has neither.
    const TOPVarList *Names() const { return names_.get(); }
    const TOPVarList *Descriptions() const { return descriptions_.get(); }

    // A record's values without making its list: how many it has (0 for a
    // number out of range) and one of them (empty out of range). The view
    // stays valid until the archive next changes.
    int ValueCount(int record) const;
    QByteArrayView Value(int record, int column) const;

    // Replaces the target's records by copies of these, then copies the names
    // and the descriptions. A missing list on this side throws EOPVarListError
    // once the records are copied (the target then keeps its old list).
    void CopyTo(TDeviceArchive &target) const;
    // The same; a null target is created first.
    void CopyTo(std::unique_ptr<TDeviceArchive> &target) const;

    // All or nothing: on false the archive is as it was. Refused: a missing
    // file, anything but a plain file, an unreadable one, one larger than
    // MaxFileSize, one that is no archive (no column line, or control
    // characters other than the line ends, or bytes that are no code page
    // 1251 text, which no archive file holds: a binary file chosen by
    // mistake), and one that would take more memory than LoadBytesPerFileByte
    // allows. Lines end in LF or CR LF, or in CR alone throughout the file.
    bool LoadFromFile(const QString &fileName);
    // Why the last LoadFromFile or FromFileText refused its file (None after
    // a load that succeeded).
    enum class TLoadProblem { None, File, TooLarge, NotText, NoColumnLine, TooManyValues };
    TLoadProblem LoadProblem() const { return loadProblem_; }
    // Written to a temporary file renamed into place: on false the previous
    // file stays whole. An archive without columns, or with a control
    // character or a byte 0x98 in a name or value, is not saved: it could not
    // be loaded again.
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
    TLoadProblem loadProblem_ = TLoadProblem::None;
    // The names and indexes of a record's items. Records loaded from a file
    // all share one; records of an installation read differ only in their
    // index, which is then one text for the whole record.
    struct TLayout {
        int NameList = 0;              // into NameLists
        QByteArray Index;              // every item's index, when Indexes is empty
        std::vector<QByteArray> Indexes; // one per item, when they differ
    };

    // Every value of every record back to back; value k ends at ValueEnd[k]
    // and begins where value k - 1 ends. Record r holds the values
    // FirstValue[r] .. FirstValue[r + 1] - 1. A copy shares the value bytes
    // until either side changes.
    struct TRecordStore {
        QByteArray Values;
        std::vector<qint64> ValueEnd;
        std::vector<qint64> FirstValue{0};
        std::vector<qint32> LayoutOf;
        std::vector<TLayout> Layouts;
        std::vector<std::vector<QByteArray>> NameLists;
    };

    void appendLayout(const TOPVarList &vars);
    void setRecords(TRecordStore records);

    TRecordStore store_;
    // Records asked for through GetRecord, made on demand.
    mutable std::vector<std::unique_ptr<TDeviceArchiveRecord>> recordCache_;

    std::unique_ptr<TOPVarList> names_;
    std::unique_ptr<TOPVarList> descriptions_;
};
