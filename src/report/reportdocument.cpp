#include "report/reportdocument.h"

#include "base/savefile.h"
#include "ui/fonts.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kTextPt = 9;
constexpr double kTitlePt = 14;
constexpr double kHeadingPt = 11;
constexpr double kTablePt = 8;
constexpr double kSmallestTablePt = 4;
constexpr double kFootPt = 7;
constexpr double kPdfMarginMm = 15;
constexpr int kPdfResolution = 600;

enum class Kind { Title, Heading, Text, Pairs, Drawing, Table, Break };
} // namespace

struct TReportDocument::Item {
    Kind kind;
    QString text;
    QList<QPair<QString, QString>> pairs;
    double heightMm = 0;
    Drawing draw;
    std::shared_ptr<const TReportTable> table;
};

// Where everything goes on one device.
struct TReportDocument::Layout {
    struct Placement {
        int item = 0;
        double y = 0;
        QStringList lines; // text: the lines of its part on this page
        int firstRow = 0;  // table: the rows on this page
        int rows = 0;
    };
    struct Table {
        QFont font;
        QFont headFont;
        std::vector<double> x; // left edge of each column
        double rowHeight = 0;
    };
    double dpi = 72;
    QRectF page;         // the body of a page
    double footY = 0;
    QFont text, title, heading, foot;
    std::vector<std::vector<Placement>> pages;
    std::vector<Table> tables; // by item, for tables
};

namespace {
QFont fontOf(const QString &family, double points, bool bold = false)
{
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Greedy word wrap; a word wider than the line stands alone.
QStringList wrap(const QString &text, const QFontMetricsF &metrics, double width)
{
    QStringList lines;
    for (const QString &paragraph : text.split(u'\n')) {
        QString line;
        for (const QString &word : paragraph.split(u' ', Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + u' ' + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    return lines;
}

// Where the values of label and value pairs begin.
double pairIndent(const QList<QPair<QString, QString>> &pairs, const QFontMetricsF &metrics)
{
    double width = 0;
    for (const auto &pair : pairs)
        width = std::max(width, metrics.horizontalAdvance(pair.first));
    return width + metrics.horizontalAdvance(QStringLiteral("    "));
}

double lineHeight(const QFont &font, QPaintDevice *device)
{
    return QFontMetricsF(font, device).lineSpacing();
}
} // namespace

TReportDocument::TReportDocument(const QString &fontFamily)
    : family_(fontFamily.isEmpty() ? WindowFont().family() : fontFamily)
{
}

TReportDocument::~TReportDocument() = default;

void TReportDocument::AddTitle(const QString &text)
{
    items_.push_back({Kind::Title, text, {}, 0, {}, {}});
}

void TReportDocument::AddHeading(const QString &text)
{
    items_.push_back({Kind::Heading, text, {}, 0, {}, {}});
}

void TReportDocument::AddText(const QString &text)
{
    items_.push_back({Kind::Text, text, {}, 0, {}, {}});
}

void TReportDocument::AddPairs(const QList<QPair<QString, QString>> &pairs)
{
    items_.push_back({Kind::Pairs, {}, pairs, 0, {}, {}});
}

void TReportDocument::AddDrawing(double heightMm, Drawing draw)
{
    items_.push_back({Kind::Drawing, {}, {}, heightMm, std::move(draw), {}});
}

void TReportDocument::AddTable(std::shared_ptr<const TReportTable> table)
{
    items_.push_back({Kind::Table, {}, {}, 0, {}, std::move(table)});
}

void TReportDocument::AddPageBreak()
{
    items_.push_back({Kind::Break, {}, {}, 0, {}, {}});
}

TReportDocument::Layout TReportDocument::layOut(QPagedPaintDevice &device) const
{
    Layout layout;
    layout.dpi = device.logicalDpiY();
    const QRect paint = device.pageLayout().paintRectPixels(device.logicalDpiX());
    layout.text = fontOf(family_, kTextPt);
    layout.title = fontOf(family_, kTitlePt, true);
    layout.heading = fontOf(family_, kHeadingPt, true);
    layout.foot = fontOf(family_, kFootPt);
    const double footHeight = lineHeight(layout.foot, &device) * 2;
    layout.page = QRectF(0, 0, paint.width(), std::max(1.0, paint.height() - footHeight));
    layout.footY = paint.height() - lineHeight(layout.foot, &device);
    layout.tables.resize(items_.size());

    const double width = layout.page.width();
    const double bottom = layout.page.bottom();
    double y = 0;
    layout.pages.emplace_back();
    auto newPage = [&] {
        layout.pages.emplace_back();
        y = 0;
    };
    auto place = [&](Layout::Placement placement, double height) {
        if (y > 0 && y + height > bottom)
            newPage();
        placement.y = y;
        layout.pages.back().push_back(std::move(placement));
        y += height;
    };
    auto placeLines = [&](int index, const QStringList &lines, const QFont &font, double before) {
        const double step = lineHeight(font, &device);
        if (y > 0)
            y += before * step;
        // Line by line, so that a long paragraph runs on to the next page.
        for (const QString &line : lines) {
            if (y > 0 && y + step > bottom)
                newPage();
            if (layout.pages.back().empty() || layout.pages.back().back().item != index ||
                layout.pages.back().back().lines.isEmpty())
                layout.pages.back().push_back({index, y, {}, 0, 0});
            layout.pages.back().back().lines << line;
            y += step;
        }
    };

    for (int i = 0; i < int(items_.size()); ++i) {
        const Item &item = items_[size_t(i)];
        switch (item.kind) {
        case Kind::Title:
            placeLines(i, wrap(item.text, QFontMetricsF(layout.title, &device), width), layout.title, 0);
            y += lineHeight(layout.text, &device) * 0.5;
            break;
        case Kind::Heading:
            // A heading never stands alone at a page's foot.
            if (y > 0 && y + 3 * lineHeight(layout.heading, &device) > bottom)
                newPage();
            placeLines(i, {item.text}, layout.heading, 0.6);
            break;
        case Kind::Text:
            placeLines(i, wrap(item.text, QFontMetricsF(layout.text, &device), width), layout.text, 0);
            break;
        case Kind::Pairs: {
            // Label, tab, value; a long value wraps under itself.
            const QFontMetricsF metrics(layout.text, &device);
            const double indent = pairIndent(item.pairs, metrics);
            QStringList lines;
            for (const auto &pair : item.pairs) {
                QString label = pair.first;
                for (const QString &part : wrap(pair.second, metrics, width - indent)) {
                    lines << label + u'\t' + part;
                    label.clear();
                }
            }
            placeLines(i, lines, layout.text, 0);
            break;
        }
        case Kind::Drawing:
            place({i, 0, {}, 0, 0}, std::min(bottom, item.heightMm / 25.4 * layout.dpi));
            break;
        case Kind::Break:
            if (y > 0)
                newPage();
            break;
        case Kind::Table: {
            const TReportTable &table = *item.table;
            const QStringList headings = table.Headings();
            const int columns = int(headings.size());
            const int rowCount = table.RowCount();
            // The widest text of each column, by characters, measured once.
            std::vector<QString> widest(static_cast<size_t>(columns));
            for (int c = 0; c < columns; ++c)
                widest[size_t(c)] = headings[c];
            for (int r = 0; r < rowCount; ++r)
                for (int c = 0; c < columns; ++c) {
                    const QString cell = table.Cell(r, c);
                    if (cell.size() > widest[size_t(c)].size())
                        widest[size_t(c)] = cell;
                }
            Layout::Table &t = layout.tables[size_t(i)];
            double points = kTablePt;
            std::vector<double> widths(static_cast<size_t>(columns));
            for (int attempt = 0; attempt < 2; ++attempt) {
                t.font = fontOf(family_, points);
                t.headFont = fontOf(family_, points, true);
                const QFontMetricsF plain(t.font, &device), bold(t.headFont, &device);
                const double gap = plain.horizontalAdvance(QStringLiteral("00"));
                double total = 0;
                for (int c = 0; c < columns; ++c) {
                    widths[size_t(c)] = std::max(bold.horizontalAdvance(headings[c]),
                                                 plain.horizontalAdvance(widest[size_t(c)])) + gap;
                    total += widths[size_t(c)];
                }
                if (total <= width || points <= kSmallestTablePt)
                    break;
                // Too wide for the page: a smaller type, as small as it takes.
                points = std::max(kSmallestTablePt, std::floor(points * width / total * 10) / 10);
            }
            t.x.assign(size_t(columns), 0);
            for (int c = 1; c < columns; ++c)
                t.x[size_t(c)] = t.x[size_t(c - 1)] + widths[size_t(c - 1)];
            t.rowHeight = lineHeight(t.font, &device) * 1.1;
            const double head = lineHeight(t.headFont, &device) * 1.3;
            int row = 0;
            do {
                int fit = int((bottom - y - head) / t.rowHeight);
                if (fit < 1 || (y > 0 && fit < std::min(3, rowCount - row))) {
                    newPage();
                    fit = std::max(1, int((bottom - head) / t.rowHeight));
                }
                const int rows = std::min(fit, rowCount - row);
                layout.pages.back().push_back({i, y, {}, row, rows});
                y += head + rows * t.rowHeight;
                row += rows;
            } while (row < rowCount);
            y += lineHeight(layout.text, &device) * 0.5;
            break;
        }
        }
    }
    if (layout.pages.size() > 1 && layout.pages.back().empty())
        layout.pages.pop_back();
    return layout;
}

TReportResult TReportDocument::Paint(QPagedPaintDevice &device, const TReportProgress &progress) const
{
    const Layout layout = layOut(device);
    QPainter painter;
    if (!painter.begin(&device))
        return TReportResult::Failed;
    const int pageCount = int(layout.pages.size());
    const QDateTime printed = PrintedAt.isValid() ? PrintedAt : QDateTime::currentDateTime();
    const QString footLeft = QStringLiteral("Дата печати: ") + printed.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    const double hairline = layout.dpi / 200;

    for (int p = 0; p < pageCount; ++p) {
        if (p > 0 && !device.newPage()) {
            painter.end();
            return TReportResult::Failed;
        }
        for (const Layout::Placement &placement : layout.pages[size_t(p)]) {
            const Item &item = items_[size_t(placement.item)];
            const double left = layout.page.left();
            switch (item.kind) {
            case Kind::Title:
            case Kind::Heading:
            case Kind::Text:
            case Kind::Pairs: {
                const QFont &font = item.kind == Kind::Title     ? layout.title
                                    : item.kind == Kind::Heading ? layout.heading
                                                                 : layout.text;
                painter.setFont(font);
                painter.setPen(Qt::black);
                const QFontMetricsF metrics(font, &device);
                const double indent = item.kind == Kind::Pairs ? pairIndent(item.pairs, metrics) : 0;
                double y = placement.y + metrics.ascent();
                for (const QString &line : placement.lines) {
                    // A pair's line is its label and value apart by a tab.
                    const qsizetype tab = item.kind == Kind::Pairs ? line.indexOf(u'\t') : -1;
                    painter.drawText(QPointF(left, y), tab < 0 ? line : line.left(tab));
                    if (tab >= 0)
                        painter.drawText(QPointF(left + indent, y), line.mid(tab + 1));
                    y += metrics.lineSpacing();
                }
                break;
            }
            case Kind::Drawing: {
                const double height = std::min(layout.page.bottom(), item.heightMm / 25.4 * layout.dpi);
                painter.save();
                painter.setFont(layout.text); // drawings label in the text's type
                item.draw(painter, QRectF(left, placement.y, layout.page.width(), height));
                painter.restore();
                break;
            }
            case Kind::Table: {
                const TReportTable &table = *item.table;
                const Layout::Table &t = layout.tables[size_t(placement.item)];
                const QStringList headings = table.Headings();
                const QFontMetricsF head(t.headFont, &device), plain(t.font, &device);
                const double headHeight = head.lineSpacing() * 1.3;
                painter.setPen(Qt::black);
                painter.setFont(t.headFont);
                for (int c = 0; c < int(headings.size()); ++c)
                    painter.drawText(QPointF(left + t.x[size_t(c)], placement.y + head.ascent()), headings[c]);
                painter.setPen(QPen(Qt::black, hairline));
                const double rule = placement.y + headHeight - head.lineSpacing() * 0.15;
                painter.drawLine(QPointF(left, rule), QPointF(layout.page.right(), rule));
                painter.setFont(t.font);
                double y = placement.y + headHeight + plain.ascent();
                for (int r = placement.firstRow; r < placement.firstRow + placement.rows; ++r) {
                    for (int c = 0; c < int(t.x.size()); ++c)
                        painter.drawText(QPointF(left + t.x[size_t(c)], y), table.Cell(r, c));
                    y += t.rowHeight;
                }
                break;
            }
            case Kind::Break:
                break;
            }
        }
        // The page's foot.
        painter.setFont(layout.foot);
        painter.setPen(Qt::black);
        const QFontMetricsF foot(layout.foot, &device);
        const QString number = QStringLiteral("стр. %1 из %2").arg(p + 1).arg(pageCount);
        painter.drawText(QPointF(layout.page.left(), layout.footY + foot.ascent()), footLeft);
        painter.drawText(QPointF(layout.page.right() - foot.horizontalAdvance(number), layout.footY + foot.ascent()),
                         number);
        if (progress && !progress(p + 1, pageCount)) {
            painter.end();
            return TReportResult::Cancelled;
        }
    }
    return painter.end() ? TReportResult::Written : TReportResult::Failed;
}

TReportResult WriteReportPdf(const TReportDocument &report, const QString &fileName, const TReportProgress &progress,
                             QString *error)
{
    QByteArray pdf;
    TReportResult result;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(kPdfResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(kPdfMarginMm, kPdfMarginMm, kPdfMarginMm, kPdfMarginMm),
                                         QPageLayout::Millimeter));
        writer.setTitle(report.Title);
        writer.setCreator(QStringLiteral("КВАРН-Т 1.1"));
        result = report.Paint(writer, progress);
    }
    if (result == TReportResult::Failed && error)
        *error = QStringLiteral("the report could not be drawn");
    if (result != TReportResult::Written)
        return result;
    if (!SaveFileAtomically(fileName, pdf)) {
        if (error)
            *error = QStringLiteral("%1 could not be written").arg(fileName);
        return TReportResult::Failed;
    }
    return TReportResult::Written;
}
