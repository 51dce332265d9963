#pragma once
// A report as pages: titles, lines of text, label and value pairs, drawings
// of a fixed height and tables of any length, laid out top to bottom on the
// pages of a paint device (a PDF writer or a printer, whose page size and
// margins it takes) and drawn with QPainter. A table runs over as many
// pages as it needs with its headings repeated on each; every page ends in
// the date of printing and "стр. N из M". No widgets: the command-line tool
// writes reports too.

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QPagedPaintDevice;
class QPainter;

// The rows of a table, asked for one cell at a time: a table of a hundred
// thousand records is never copied.
class TReportTable {
public:
    virtual ~TReportTable() = default;
    virtual QStringList Headings() const = 0;
    virtual int RowCount() const = 0;
    virtual QString Cell(int row, int column) const = 0;
};

// Told after each page drawn (done of pages); false stops the report there.
using TReportProgress = std::function<bool(int done, int pages)>;

enum class TReportResult { Written, Cancelled, Failed };

class TReportDocument {
public:
    // Text in that font family; empty: the window's (see ui/fonts.h).
    explicit TReportDocument(const QString &fontFamily);
    ~TReportDocument();

    // The document's title (PDF properties).
    QString Title;
    // Printed in every page's foot; the moment of painting when not set.
    QDateTime PrintedAt;

    void AddTitle(const QString &text);
    void AddHeading(const QString &text);
    // A paragraph, wrapped at the page's width.
    void AddText(const QString &text);
    // "label  value" lines with the values aligned.
    void AddPairs(const QList<QPair<QString, QString>> &pairs);
    // A drawing of that height (millimetres) across the page's width.
    using Drawing = std::function<void(QPainter &painter, const QRectF &area)>;
    void AddDrawing(double heightMm, Drawing draw);
    void AddTable(std::shared_ptr<const TReportTable> table);
    void AddPageBreak();
    // Keeps what the report's tables read from for as long as the report lives.
    void KeepAlive(std::shared_ptr<const void> owned) { owned_.push_back(std::move(owned)); }

    // Draws every page on the device, a new page for each after the first.
    // Cancelled: the device holds the pages drawn so far.
    TReportResult Paint(QPagedPaintDevice &device, const TReportProgress &progress = {}) const;

    struct Item;
    struct Layout;

private:
    Layout layOut(QPagedPaintDevice &device) const;

    QString family_;
    std::vector<Item> items_;
    std::vector<std::shared_ptr<const void>> owned_;
};

// The report as a PDF file, A4 portrait: written all or nothing (cancelled
// or failed, any earlier file stays as it was). On Failed, error says why.
TReportResult WriteReportPdf(const TReportDocument &report, const QString &fileName,
                             const TReportProgress &progress = {}, QString *error = nullptr);

// A small table held as texts (exceedances, peaks).
class TReportTextTable : public TReportTable {
public:
    TReportTextTable(QStringList headings, QList<QStringList> rows)
        : headings_(std::move(headings)), rows_(std::move(rows))
    {
    }
    QStringList Headings() const override { return headings_; }
    int RowCount() const override { return int(rows_.size()); }
    QString Cell(int row, int column) const override { return rows_.value(row).value(column); }

private:
    QStringList headings_;
    QList<QStringList> rows_;
};
