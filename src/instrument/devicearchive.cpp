#include "instrument/devicearchive.h"

#include "base/savefile.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>

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

// Whether text can be an archive file's: code page 1251 text (0x98 is no
// character there) whose only control characters are its line ends: LF or
// CR LF. A binary file chosen by mistake fails here, whether or not it holds
// a NUL byte.
bool isArchiveText(QByteArrayView text)
{
    const qsizetype n = text.size();
    const char *p = text.data();
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = uchar(p[i]);
        if (c >= 0x20 && c != 0x7F && c != 0x98)
            continue;
        if (c == '\n' || (c == '\r' && i + 1 < n && p[i + 1] == '\n'))
            continue;
        return false;
    }
    return true;
}

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

void appendPadded(QByteArray &out, QByteArrayView text, int width)
{
    out.append(text);
    if (text.size() < width)
        out.append(width - text.size(), ' ');
}

bool isPlainFile(const QString &fileName)
{
    // A FIFO or a device would block the read or never end; only plain files load.
    const QFileInfo info(fileName);
    return info.exists() && info.isFile();
}

// Calls field(view) for each field of a line as SplitFields splits it, at
// most maxFields of them (all for a negative count); gives how many.
template <class Field>
int forEachField(QByteArrayView text, int maxFields, Field field)
{
    int count = 0;
    qsizetype pos = 0;
    while (pos < text.size() && (maxFields < 0 || count < maxFields)) {
        const qsizetype run = text.indexOf(QByteArrayView("  "), pos);
        if (run < 0) {
            qsizetype b = pos, e = text.size();
            while (b < e && text.at(b) == ' ')
                ++b;
            while (e > b && text.at(e - 1) == ' ')
                --e;
            field(text.sliced(b, e - b));
            pos = text.size();
        } else {
            field(text.sliced(pos, run - pos));
            pos = skipBlanks(text, run + 2);
        }
        ++count;
    }
    return count;
}

// What a loaded record and a loaded value cost in memory besides the value's
// bytes (the record's place in three tables, a value's end offset), with
// room for the tables' growth.
constexpr qint64 kRecordCost = 32;
constexpr qint64 kValueCost = 8;

// The first bytes are looked at before the rest is read: a binary file
// chosen by mistake is refused without reading it whole.
constexpr qint64 kSniffSize = 64 * 1024;

} // namespace

void TDeviceArchive::appendLayout(const TOPVarList &vars)
{
    const int count = vars.Count();
    auto sameNames = [&](const std::vector<QByteArray> &names) {
        if (int(names.size()) != count)
            return false;
        for (int k = 0; k < count; ++k)
            if (names[size_t(k)] != vars.GetItem(k)->Name)
                return false;
        return true;
    };
    // Consecutive records nearly always have the same items: only the last
    // name list and the last layout are looked at.
    if (store_.NameLists.empty() || !sameNames(store_.NameLists.back())) {
        std::vector<QByteArray> names;
        names.reserve(size_t(count));
        for (int k = 0; k < count; ++k)
            names.push_back(vars.GetItem(k)->Name);
        store_.NameLists.push_back(std::move(names));
    }
    TLayout layout;
    layout.NameList = int(store_.NameLists.size()) - 1;
    if (count > 0)
        layout.Index = vars.GetItem(0)->Index;
    for (int k = 1; k < count; ++k) {
        if (vars.GetItem(k)->Index != layout.Index) {
            layout.Index.clear();
            for (int j = 0; j < count; ++j)
                layout.Indexes.push_back(vars.GetItem(j)->Index);
            break;
        }
    }
    if (!store_.Layouts.empty()) {
        const TLayout &last = store_.Layouts.back();
        if (last.NameList == layout.NameList && last.Index == layout.Index && last.Indexes == layout.Indexes) {
            store_.LayoutOf.push_back(qint32(store_.Layouts.size() - 1));
            return;
        }
    }
    store_.Layouts.push_back(std::move(layout));
    store_.LayoutOf.push_back(qint32(store_.Layouts.size() - 1));
}

void TDeviceArchive::AddRecord(const TOPVarList &vars)
{
    for (int k = 0; k < vars.Count(); ++k) {
        store_.Values += vars.GetItem(k)->Value;
        store_.ValueEnd.push_back(store_.Values.size());
    }
    store_.FirstValue.push_back(qint64(store_.ValueEnd.size()));
    appendLayout(vars);
}

void TDeviceArchive::SetNames(const TOPVarList *names)
{
    names_ = names ? names->Clone() : nullptr;
}

void TDeviceArchive::SetDescriptions(const TOPVarList *descriptions)
{
    descriptions_ = descriptions ? descriptions->Clone() : nullptr;
}

void TDeviceArchive::setRecords(TRecordStore records)
{
    store_ = std::move(records);
    recordCache_.clear();
}

void TDeviceArchive::Clear()
{
    setRecords({});
}

int TDeviceArchive::ValueCount(int record) const
{
    if (record < 0 || record >= RecordCount())
        return 0;
    return int(store_.FirstValue[size_t(record) + 1] - store_.FirstValue[size_t(record)]);
}

QByteArrayView TDeviceArchive::Value(int record, int column) const
{
    if (column < 0 || column >= ValueCount(record))
        return QByteArrayView();
    const qint64 k = store_.FirstValue[size_t(record)] + column;
    const qint64 begin = k == 0 ? 0 : store_.ValueEnd[size_t(k - 1)];
    return QByteArrayView(store_.Values.constData() + begin, store_.ValueEnd[size_t(k)] - begin);
}

const TDeviceArchiveRecord *TDeviceArchive::GetRecord(int number) const
{
    // Numbers run 0, 1, 2, ... in order of appending, so a record's number is
    // its position.
    if (number < 0 || number >= RecordCount())
        return nullptr;
    if (recordCache_.size() <= size_t(number))
        recordCache_.resize(size_t(number) + 1);
    std::unique_ptr<TDeviceArchiveRecord> &cached = recordCache_[size_t(number)];
    if (!cached) {
        const TLayout &layout = store_.Layouts[size_t(store_.LayoutOf[size_t(number)])];
        const std::vector<QByteArray> &names = store_.NameLists[size_t(layout.NameList)];
        auto vars = std::make_unique<TOPVarList>();
        for (int k = 0; k < ValueCount(number); ++k)
            vars->Add(names[size_t(k)], layout.Indexes.empty() ? layout.Index : layout.Indexes[size_t(k)],
                      Value(number, k).toByteArray());
        cached = std::make_unique<TDeviceArchiveRecord>();
        cached->VarList = std::move(vars);
        cached->Number = number;
    }
    return cached.get();
}

void TDeviceArchive::CopyTo(TDeviceArchive &target) const
{
    if (&target == this)
        return; // clearing the target would lose the records to copy
    target.setRecords(store_); // the value bytes are shared until either side changes
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
    forEachField(text, maxFields, [&](QByteArrayView field) { fields.append(field.toByteArray()); });
    return fields;
}

QByteArray TDeviceArchive::ToFileText() const
{
    const int nameCount = names_ ? names_->Count() : 0;
    const int records = RecordCount();
    int columns = nameCount;
    for (int r = 0; r < records; ++r)
        columns = std::max(columns, ValueCount(r));

    // Column widths: the longest of the name and the column's values.
    std::vector<int> widths(size_t(columns), 0);
    for (int j = 0; j < nameCount; ++j)
        widths[size_t(j)] = int(names_->GetItem(j)->Name.size());
    for (int r = 0; r < records; ++r)
        for (int j = 0; j < ValueCount(r); ++j)
            widths[size_t(j)] = std::max(widths[size_t(j)], int(Value(r, j).size()));
    qint64 total = 0;
    for (int w : widths)
        total += w + 2;

    QByteArray out;
    out.reserve(qsizetype((total + 2) * qint64(records + 1)));

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

    for (int r = 0; r < records; ++r) {
        for (int j = 0; j < ValueCount(r); ++j)
            appendPadded(out, Value(r, j), widths[size_t(j)] + 2);
        out += kLineEnd;
    }
    return out;
}

bool TDeviceArchive::SaveToFile(const QString &fileName) const
{
    if (!names_ || names_->Count() == 0)
        return false;
    const QByteArray text = ToFileText();
    if (!isArchiveText(text))
        return false;
    return SaveFileAtomically(fileName, text);
}

bool TDeviceArchive::LoadFromFile(const QString &fileName)
{
    auto refuse = [this](TLoadProblem problem) {
        loadProblem_ = problem;
        return false;
    };
    if (fileName.isEmpty() || !isPlainFile(fileName))
        return refuse(TLoadProblem::File);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(TLoadProblem::File);
    const qint64 expected = file.size();
    if (expected > MaxFileSize)
        return refuse(TLoadProblem::TooLarge);
    QByteArray text = file.read(std::min(expected, kSniffSize));
    if (text.contains('\0'))
        return refuse(TLoadProblem::NotText);
    if (text.size() < expected)
        text += file.read(expected - text.size());
    if (text.size() != expected || file.error() != QFileDevice::NoError)
        return refuse(TLoadProblem::File);
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
    // A file whose lines end in CR alone is read with CR as the line end.
    if (!text.contains('\n') && text.contains('\r')) {
        QByteArray lf = text;
        return FromFileText(lf.replace('\r', '\n'));
    }
    auto refuse = [this](TLoadProblem problem) {
        loadProblem_ = problem;
        return false;
    };
    loadProblem_ = TLoadProblem::None;
    // Control characters are in no archive file: this is some other file.
    if (!isArchiveText(text))
        return refuse(TLoadProblem::NotText);
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

    // The column line: the first line that is not empty (blanks count).
    // Without one this is no archive.
    const qint64 budget = MinLoadBudget + LoadBytesPerFileByte * text.size();
    auto names = std::make_unique<TOPVarList>();
    bool columnLine = false;
    while (!columnLine && lines.Next(line)) {
        if (line.isEmpty())
            continue;
        columnLine = true;
        forEachField(line, int(std::min<qint64>(budget / kValueCost, INT_MAX)),
                     [&](QByteArrayView field) { names->Add(field.toByteArray()); });
    }
    if (!columnLine)
        return refuse(TLoadProblem::NoColumnLine);

    // What the records will take, against what the file's size allows.
    const qint64 columns = names->Count();
    const qint64 recordLines = lines.CountRemaining();
    if (recordLines * kRecordCost + recordLines * columns * kValueCost > budget)
        return refuse(TLoadProblem::TooManyValues);

    TRecordStore loaded;
    loaded.Values.reserve(text.size());
    loaded.ValueEnd.reserve(size_t(recordLines * columns));
    loaded.FirstValue.reserve(size_t(recordLines) + 1);
    loaded.LayoutOf.assign(size_t(recordLines), 0);
    std::vector<QByteArray> columnNames;
    for (int k = 0; k < columns; ++k)
        columnNames.push_back(names->GetItem(k)->Name);
    loaded.NameLists.push_back(std::move(columnNames));
    loaded.Layouts.push_back(TLayout());

    QByteArray &values = loaded.Values;
    std::vector<qint64> &ends = loaded.ValueEnd;
    while (lines.Next(line)) {
        const int found = forEachField(line, int(columns), [&](QByteArrayView field) {
            values.append(field);
            ends.push_back(values.size());
        });
        for (int k = found; k < columns; ++k)
            ends.push_back(values.size());
        loaded.FirstValue.push_back(qint64(ends.size()));
    }

    setRecords(std::move(loaded));
    names_ = std::move(names);
    descriptions_ = std::move(descriptions);
    return true;
}
