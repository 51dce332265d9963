#pragma once
// The file a nightly download adds its records to (--append FILE.daf,
// --append-csv FILE.csv): its columns and the time of its last record tell
// what to read; the new records are added by writing the whole file anew
// through a temporary file renamed into place, so an interrupted download
// leaves the previous file whole.

#include "instrument/devicearchive.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

class TArchiveAppendFile {
public:
    // Reads the file, if there is one (a file that is not there is a new
    // one). False with the reason when it is there but no archive file, or
    // no CSV file of records with a header row.
    bool Load(const QString &path, bool csv, QString *error);

    bool Exists() const { return exists_; }
    // The column names of the file (of its header row for CSV).
    QList<QByteArray> Columns() const { return columns_; }
    int RecordCount() const { return records_; }
    // The time of the last record whose DATETIME reads as one; empty when
    // there is no DATETIME column or no record with a time.
    std::optional<QDateTime> LastTime() const { return lastTime_; }
    // Records after that one, whose DATETIME did not read: they came from
    // the installation's records right after the one with that time.
    int UntimedAtEnd() const { return untimedAtEnd_; }

    // Writes the file with these records after its own: a new file gets the
    // records' names (and, as .daf, the descriptions) as its columns. The
    // records' columns must be the file's. False with the reason.
    bool Append(const TDeviceArchive &records, const TOPVarList &descriptions, QString *error);

private:
    QString path_;
    bool csv_ = false;
    bool exists_ = false;
    QList<QByteArray> columns_;
    int records_ = 0;
    std::optional<QDateTime> lastTime_;
    int untimedAtEnd_ = 0;
    TDeviceArchive archive_; // .daf
    QByteArray bytes_;       // .csv, as read
};

// The rows of a CSV text as kvarnctl writes it (fields separated by ",",
// quoted with '"' when they hold one of ",", '"' or a line end, inner quotes
// doubled; LF or CR LF line ends). Empty when a quoted field is not closed
// or a quote stands inside an unquoted field.
std::optional<QList<QList<QByteArray>>> ParseCsvRows(const QByteArray &text);
