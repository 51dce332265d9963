#include "instrument/devicearchive.h"

#include "base/savefile.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

const QByteArray kLineEnd("\r\n");

// Walks the lines of a text without copying it. A line ends at LF; one CR
// at its end is dropped. A text that ends with a line end has no empty
// line after it.
class LineCursor {
public:
    explicit LineCursor(const QByteArray &text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    bool Next(QByteArrayView &line)
    {
        if (AtEnd())
            return false;
        qsizetype end = text_.indexOf('\n', pos_);
        qsizetype next = end + 1;
        if (end < 0) {
            end = text_.size();
            next = end;
        }
        qsizetype stop = end;
        if (stop > pos_ && text_.at(stop - 1) == '\r')
            --stop;
        line = QByteArrayView(text_.constData() + pos_, stop - pos_);
        pos_ = next;
        return true;
    }

    void Seek(qsizetype pos) { pos_ = pos; }

    // Lines from the current position to the end (the position is kept).
    qint64 CountRemaining() const
    {
        if (AtEnd())
            return 0;
        const qsizetype rest = text_.size() - pos_;
        const qint64 breaks = QByteArrayView(text_.constData() + pos_, rest).count('\n');
        return text_.endsWith('\n') ? breaks : breaks + 1;
    }

private:
    const QByteArray &text_;
    qsizetype pos_ = 0;
};

qsizetype skipBlanks(QByteArrayView text, qsizetype pos)
{
    while (pos < text.size() && text.at(pos) == ' ')
        ++pos;
    return pos;
}

// What a description line holds after its first word: leading blanks, the
// first word and the blanks after it removed. Nothing when there is no blank
// after the first word.
QByteArray descriptionOf(QByteArrayView line)
{
    const qsizetype start = skipBlanks(line, 0);
    const qsizetype blank = line.indexOf(' ', start);
    if (blank < 0)
        return QByteArray();
    return line.sliced(skipBlanks(line, blank + 1)).toByteArray();
}

void appendPadded(QByteArray &out, const QByteArray &text, int width)
{
    out += text;
    if (text.size() < width)
        out.append(width - text.size(), ' ');
}

bool isPlainFile(const QString &fileName)
{
    // A FIFO or a device would block the read or never end; only plain files load.
    const QFileInfo info(fileName);
    return info.exists() && info.isFile();
}

} // namespace

void TDeviceArchive::AddRecord(const TOPVarList &vars)
{
    TDeviceArchiveRecord record;
    record.VarList = vars.Clone();
    record.Number = records_.empty() ? 0 : records_.back().Number + 1;
    records_.push_back(std::move(record));
}

void TDeviceArchive::SetNames(const TOPVarList *names)
{
    names_ = names ? names->Clone() : nullptr;
}

void TDeviceArchive::SetDescriptions(const TOPVarList *descriptions)
{
    descriptions_ = descriptions ? descriptions->Clone() : nullptr;
}

void TDeviceArchive::Clear()
{
    records_.clear();
}

const TDeviceArchiveRecord *TDeviceArchive::GetRecord(int number) const
{
    // Numbers run 0, 1, 2, ... in order of appending, so a record's number is
    // its position.
    if (number < 0 || size_t(number) >= records_.size())
        return nullptr;
    return &records_[size_t(number)];
}

void TDeviceArchive::CopyTo(TDeviceArchive &target) const
{
    if (&target == this)
        return; // clearing the target would lose the records to copy
    target.records_.clear();
    target.records_.reserve(records_.size());
    for (const auto &record : records_)
        target.AddRecord(*record.VarList);
    TOPVarList::CopyTo(names_.get(), target.names_);
    TOPVarList::CopyTo(descriptions_.get(), target.descriptions_);
}

void TDeviceArchive::CopyTo(std::unique_ptr<TDeviceArchive> &target) const
{
    if (!target)
        target = std::make_unique<TDeviceArchive>();
    CopyTo(*target);
}

QList<QByteArray> TDeviceArchive::SplitFields(QByteArrayView text, int maxFields)
{
    QList<QByteArray> fields;
    qsizetype pos = 0;
    while (pos < text.size() && (maxFields < 0 || fields.size() < maxFields)) {
        const qsizetype run = text.indexOf(QByteArrayView("  "), pos);
        if (run < 0) {
            qsizetype b = pos, e = text.size();
            while (b < e && text.at(b) == ' ')
                ++b;
            while (e > b && text.at(e - 1) == ' ')
                --e;
            fields.append(text.sliced(b, e - b).toByteArray());
            pos = text.size();
        } else {
            fields.append(text.sliced(pos, run - pos).toByteArray());
            pos = skipBlanks(text, run + 2);
        }
    }
    return fields;
}

QByteArray TDeviceArchive::ToFileText() const
{
    const int nameCount = names_ ? names_->Count() : 0;
    int columns = nameCount;
    for (const auto &record : records_)
        columns = std::max(columns, record.VarList->Count());

    // Column widths: the longest of the name and the column's values.
    std::vector<int> widths(size_t(columns), 0);
    for (int j = 0; j < nameCount; ++j)
        widths[size_t(j)] = int(names_->GetItem(j)->Name.size());
    qint64 total = 0;
    for (const auto &record : records_) {
        const TOPVarList &vars = *record.VarList;
        for (int j = 0; j < vars.Count(); ++j)
            widths[size_t(j)] = std::max(widths[size_t(j)], int(vars.GetItem(j)->Value.size()));
    }
    for (int w : widths)
        total += w + 2;

    QByteArray out;
    out.reserve(qsizetype((total + 2) * qint64(records_.size() + 1)));

    // The description block only when it describes every column, one to one.
    if (names_ && descriptions_ && descriptions_->Count() == nameCount) {
        int longest = 0;
        for (int j = 0; j < nameCount; ++j)
            longest = std::max(longest, int(names_->GetItem(j)->Name.size()));
        for (int j = 0; j < nameCount; ++j) {
            appendPadded(out, names_->GetItem(j)->Name, longest);
            out += "  ";
            out += descriptions_->GetItem(j)->Name;
            out += kLineEnd;
        }
        out += kLineEnd;
        out += kLineEnd;
    }

    for (int j = 0; j < nameCount; ++j)
        appendPadded(out, names_->GetItem(j)->Name, widths[size_t(j)] + 2);
    out += kLineEnd;

    for (const auto &record : records_) {
        const TOPVarList &vars = *record.VarList;
        for (int j = 0; j < vars.Count(); ++j)
            appendPadded(out, vars.GetItem(j)->Value, widths[size_t(j)] + 2);
        out += kLineEnd;
    }
    return out;
}

bool TDeviceArchive::SaveToFile(const QString &fileName) const
{
    return SaveFileAtomically(fileName, ToFileText());
}

bool TDeviceArchive::LoadFromFile(const QString &fileName)
{
    if (fileName.isEmpty() || !isPlainFile(fileName))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 expected = file.size();
    if (expected > MaxFileSize)
        return false;
    const QByteArray text = file.readAll();
    if (text.size() != expected || file.error() != QFileDevice::NoError)
        return false;
    return FromFileText(text);
}

// The description block is what comes before the first empty line (the first
// of the two that end it). A file without an empty line before its last
// non-empty one has no description block: it begins with the column line, as
// SaveToFile writes it when the descriptions do not match the names. Reading such a file word by word as
// descriptions up to the first one-word line would swallow the column line
// and the records, so it is recognised instead. A block line whose
// description is empty gives an empty description, so that the descriptions
// stay in step with the columns.
//
// Record lines with more fields than there are columns: the surplus fields
// are ignored. Shorter record lines are padded with empty values.
bool TDeviceArchive::FromFileText(const QByteArray &text)
{
    LineCursor lines(text);
    QByteArrayView line;

    auto descriptions = std::make_unique<TOPVarList>();
    bool separator = false, hasBlock = false;
    while (!hasBlock && lines.Next(line)) {
        if (line.isEmpty())
            separator = true;
        else
            hasBlock = separator;
    }
    lines.Seek(0);
    if (hasBlock) {
        while (lines.Next(line) && !line.isEmpty())
            descriptions->Add(descriptionOf(line));
    }

    // The column line: the first line that is not empty (blanks count). It
    // counts as one more line in the size check, so that a column line alone
    // cannot exceed it either.
    auto names = std::make_unique<TOPVarList>();
    while (lines.Next(line)) {
        if (!line.isEmpty()) {
            for (const QByteArray &field : SplitFields(line, int(MaxLoadedValues / 2)))
                names->Add(field);
            break;
        }
    }

    const int columns = names->Count();
    const qint64 recordLines = lines.CountRemaining();
    if ((recordLines + 1) * (columns + 1) > MaxLoadedValues)
        return false;

    std::vector<TDeviceArchiveRecord> records;
    records.reserve(size_t(recordLines));
    while (lines.Next(line)) {
        const QList<QByteArray> fields = SplitFields(line, columns);
        auto vars = std::make_unique<TOPVarList>();
        for (int k = 0; k < columns; ++k)
            vars->Add(names->GetItem(k)->Name, QByteArray(), k < fields.size() ? fields[k] : QByteArray());
        TDeviceArchiveRecord record;
        record.VarList = std::move(vars);
        record.Number = int(records.size());
        records.push_back(std::move(record));
    }

    records_ = std::move(records);
    names_ = std::move(names);
    descriptions_ = std::move(descriptions);
    return true;
}
