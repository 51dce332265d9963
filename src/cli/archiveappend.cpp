#include "cli/archiveappend.h"

#include "base/cp1251.h"
#include "base/installationtime.h"
#include "base/savefile.h"
#include "cli/cliarguments.h"
#include "cli/clicsv.h"
#include "cli/kvarnctl.h"

#include <QFile>
#include <QFileInfo>

#include <functional>

namespace {

// The last time that reads, and how many records follow it. A last record
// whose time does not read (an installation that answered "@@") does not
// hide the ones before it.
std::optional<QDateTime> lastTime(int rows, int column, const std::function<QByteArray(int)> &value, int &after)
{
    after = 0;
    if (column < 0)
        return std::nullopt;
    for (int r = rows - 1; r >= 0; --r, ++after)
        if (const std::optional<QDateTime> t = ParseInstallationTime(value(r)))
            return t;
    return std::nullopt;
}

} // namespace

std::optional<QList<QList<QByteArray>>> ParseCsvRows(const QByteArray &text)
{
    QList<QList<QByteArray>> rows;
    QList<QByteArray> row;
    QByteArray field;
    bool quoted = false;    // inside a quoted field
    bool wasQuoted = false; // the field began with a quote
    bool pending = false;   // something of the current row has been seen
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '"') {
            if (!field.isEmpty() || wasQuoted)
                return std::nullopt;
            quoted = wasQuoted = pending = true;
        } else if (c == ',') {
            row.append(field);
            field.clear();
            wasQuoted = false;
            pending = true;
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r')
                ++i;
            row.append(field);
            rows.append(row);
            row.clear();
            field.clear();
            wasQuoted = pending = false;
        } else {
            if (wasQuoted)
                return std::nullopt;
            field += c;
            pending = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (pending) {
        row.append(field);
        rows.append(row);
    }
    return rows;
}

bool TArchiveAppendFile::Load(const QString &path, bool csv, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    path_ = path;
    csv_ = csv;
    exists_ = QFileInfo::exists(path);
    if (!exists_)
        return true;
    if (const QString problem = CliInputProblem(path); !problem.isEmpty())
        return fail(problem);

    if (!csv) {
        if (!archive_.LoadFromFile(path) || !archive_.Names())
            return fail(QStringLiteral("%1 cannot be read as an archive file").arg(path));
        const TOPVarList &names = *archive_.Names();
        for (int c = 0; c < names.Count(); ++c)
            columns_ << names.GetItem(c)->Name;
        records_ = archive_.RecordCount();
        const int column = int(columns_.indexOf("DATETIME"));
        lastTime_ = lastTime(records_, column, [&](int r) { return archive_.Value(r, column).toByteArray(); },
                             untimedAtEnd_);
        return true;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString()));
    bytes_ = file.readAll();
    const std::optional<QList<QList<QByteArray>>> rows = ParseCsvRows(bytes_);
    if (!rows || rows->isEmpty() || bytes_.contains('\0'))
        return fail(QStringLiteral("%1 is no CSV file with a header row").arg(path));
    for (const QByteArray &name : rows->first())
        columns_ << name.trimmed();
    records_ = int(rows->size()) - 1;
    const int column = int(columns_.indexOf("DATETIME"));
    lastTime_ = lastTime(records_, column, [&](int r) { return rows->at(r + 1).value(column); }, untimedAtEnd_);
    return true;
}

bool TArchiveAppendFile::Append(const TDeviceArchive &records, const TOPVarList &descriptions, QString *error)
{
    const int columns = records.Names() ? records.Names()->Count() : 0;
    bool saved = false;
    if (csv_) {
        QByteArray bytes = ArchiveCsv(records);
        if (exists_) {
            // The header row is the file's own already.
            bytes = bytes_ + (bytes_.isEmpty() || bytes_.endsWith('\n') ? "" : "\n") + bytes.mid(bytes.indexOf('\n') + 1);
        }
        saved = SaveFileAtomically(path_, bytes);
    } else {
        if (!exists_) {
            archive_.SetNames(records.Names());
            columns_.clear();
            for (int c = 0; c < columns; ++c)
                columns_ << records.Names()->GetItem(c)->Name;
        }
        for (int r = 0; r < records.RecordCount(); ++r) {
            TOPVarList record;
            for (int c = 0; c < columns; ++c)
                record.Add(columns_.value(c), {}, records.Value(r, c).toByteArray());
            archive_.AddRecord(record);
        }
        if (!archive_.Descriptions() || archive_.Descriptions()->Count() != int(columns_.size()))
            archive_.SetDescriptions(descriptions);
        saved = archive_.SaveToFile(path_);
    }
    if (!saved && error)
        *error = QStringLiteral("%1 could not be written; it is as it was").arg(path_);
    return saved;
}
