#include "views/devicearchiveview.h"

#include "base/cp1251.h"
#include "ui/operatorprompt.h"
#include "instrument/archivetable.h"
#include "views/archivechart.h"
#include "views/archivechartwindow.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTableView>
#include <algorithm>
#include <array>
#include <exception>

// --- the model ----------------------------------------------------------------

TArchiveTableModel::TArchiveTableModel(QObject *parent) : QAbstractTableModel(parent)
{
}

void TArchiveTableModel::SetArchive(const TDeviceArchive *archive)
{
    beginResetModel();
    archive_ = archive;
    // The shape is fixed while shown: the view redraws after every change of
    // its copy.
    rows_ = archive ? archive->RecordCount() : 0;
    columns_ = archive && archive->Names() ? archive->Names()->Count() : 0;
    if (rows_ == 0 || columns_ == 0) {
        archive_ = nullptr;
        rows_ = columns_ = 0;
    }
    endResetModel();
}

int TArchiveTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int TArchiveTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns_;
}

QByteArray TArchiveTableModel::Value(int row, int column) const
{
    if (!archive_ || row < 0 || row >= rows_ || column < 0 || column >= columns_)
        return {};
    return archive_->Value(row, column).toByteArray();
}

QByteArray TArchiveTableModel::ColumnName(int column) const
{
    if (!archive_ || column < 0 || column >= columns_)
        return {};
    const TOPVarListItem *item = archive_->Names()->GetItem(column);
    return item ? item->Name : QByteArray();
}

QVariant TArchiveTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return FromCp1251(Value(index.row(), index.column()));
}

QVariant TArchiveTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return FromCp1251(ColumnName(section));
    return section + 1;
}

// --- column widths ------------------------------------------------------------

std::vector<int> ArchiveColumnWidths(const TDeviceArchive &archive, const QFontMetrics &metrics, int minimum)
{
    const TOPVarList *names = archive.Names();
    const int columns = names ? names->Count() : 0;
    std::vector<int> widths(size_t(columns), minimum);
    if (columns == 0)
        return widths;

    std::array<int, 256> advance{};
    for (int b = 0; b < 256; ++b)
        advance[size_t(b)] = metrics.horizontalAdvance(FromCp1251(QByteArray(1, char(b))));

    // Every value is estimated from the widths of its characters; only the
    // widest estimate of a column is measured as a whole.
    std::vector<int> estimate(size_t(columns), -1);
    std::vector<int> widestRecord(size_t(columns), -1);
    for (int r = 0; r < archive.RecordCount(); ++r) {
        const int n = std::min(columns, archive.ValueCount(r));
        for (int c = 0; c < n; ++c) {
            int w = 0;
            for (const char ch : archive.Value(r, c))
                w += advance[uchar(ch)];
            if (w > estimate[size_t(c)]) {
                estimate[size_t(c)] = w;
                widestRecord[size_t(c)] = r;
            }
        }
    }
    for (int c = 0; c < columns; ++c) {
        int w = metrics.horizontalAdvance(FromCp1251(names->GetItem(c)->Name));
        if (const int r = widestRecord[size_t(c)]; r >= 0)
            w = std::max({w, estimate[size_t(c)],
                          metrics.horizontalAdvance(FromCp1251(archive.Value(r, c).toByteArray()))});
        widths[size_t(c)] = std::max(minimum, w + TDeviceArchiveView::kCellMargin);
    }
    return widths;
}

// --- the view -----------------------------------------------------------------

TDeviceArchiveView::TDeviceArchiveView(QWidget *parent)
    : QFrame(parent), archiveData_(std::make_unique<TDeviceArchive>())
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    resize(250, 200);

    Model = new TArchiveTableModel(this);

    ArchiveGrid = new QTableView(this);
    ArchiveGrid->setObjectName(QStringLiteral("ArchiveGrid"));
    ArchiveGrid->setModel(Model);
    ArchiveGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ArchiveGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    ArchiveGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ArchiveGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ArchiveGrid->setWordWrap(false);
    ArchiveGrid->setTextElideMode(Qt::ElideNone);
    ArchiveGrid->setMouseTracking(true);
    ArchiveGrid->verticalHeader()->hide();
    // Every row of the same height: the table never asks a row for its
    // size, whatever the number of records.
    ArchiveGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ArchiveGrid->verticalHeader()->setMinimumSectionSize(1);
    ArchiveGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView *header = ArchiveGrid->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(1);
    header->setDefaultSectionSize(kDefaultColumnWidth);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setMouseTracking(true);
    ArchiveGrid->viewport()->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    ArchiveGrid->installEventFilter(this);

    ReferencePanel = new QLabel(this);
    ReferencePanel->setObjectName(QStringLiteral("ReferencePanel"));
    ReferencePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ReferencePanel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ReferencePanel->setTextFormat(Qt::PlainText);
    QPalette palette = ReferencePanel->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    ReferencePanel->setPalette(palette);

    ownPrompt_ = std::make_unique<WidgetPrompt>(this);
    prompt_ = ownPrompt_.get();
    ArchivePopupMenu = new QMenu(this);
    ArchivePopupMenu->setObjectName(QStringLiteral("ArchivePopupMenu"));
    ArchivePopupMenu->addAction(QString::fromUtf8("График..."), this, [this] { OpenChart(menuColumn_); });
    ArchiveGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ArchiveGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // A table gives the place in its viewport's coordinates. The column
        // under the mouse; from the keyboard, the current one.
        const QModelIndex index = ArchiveGrid->indexAt(pos);
        menuColumn_ = index.isValid() ? index.column() : CurrentColumn();
        ArchivePopupMenu->popup(ArchiveGrid->viewport()->mapToGlobal(pos));
    });

    ArchiveResize();
}

TDeviceArchiveView::~TDeviceArchiveView()
{
    // The model points into the copy, which goes first.
    Model->SetArchive(nullptr);
}

void TDeviceArchiveView::SetColumns(const TOPVarList *varNames, const TOPVarList *varDescriptions)
{
    varNames_ = varNames ? varNames->Clone() : nullptr;
    varDescriptions_ = varDescriptions ? varDescriptions->Clone() : nullptr;
    BuildColumnDescriptions();
}

void TDeviceArchiveView::ShowArchive(const TDeviceArchive &archive)
{
    // The table must not look into the copy while it is replaced.
    Model->SetArchive(nullptr);
    if (&archive != archiveData_.get()) {
        try {
            archive.CopyTo(*archiveData_);
        } catch (const std::exception &) {
            // A list the archive lacks: the copy lacks it too, rather than
            // keeping the one of the archive shown before.
            archiveData_->SetNames(archive.Names());
            archiveData_->SetDescriptions(archive.Descriptions());
        }
    }
    BuildColumnDescriptions();
    DrawArchive();
    FollowChart();
}

void TDeviceArchiveView::FollowChart()
{
    // An open chart shows the archive now in the table: the same column
    // drawn anew, or no chart when that column has gone.
    if (!ChartWindow || !ChartWindow->isVisible())
        return;
    const int column = archiveData_->RecordCount() > 0
                           ? ArchiveColumnIndex(*archiveData_, ChartWindow->Series().ColumnName)
                           : -1;
    if (column < 0 || column >= Model->columnCount() || ArchiveColumnIndex(*archiveData_, "DATETIME") < 0)
        ChartWindow->close();
    else
        OpenChart(column);
}

void TDeviceArchiveView::DrawArchive()
{
    try {
        const TOPVarList *names = archiveData_->Names();
        // A table of a header and no rows is no table: an archive without
        // records empties the view.
        if (!names || names->Count() == 0 || archiveData_->RecordCount() == 0) {
            Clear();
            return;
        }
        Model->SetArchive(archiveData_.get());
        const std::vector<int> widths = ArchiveColumnWidths(*archiveData_, ArchiveGrid->fontMetrics(),
                                                            kDefaultColumnWidth);
        QHeaderView *header = ArchiveGrid->horizontalHeader();
        for (int c = 0; c < int(widths.size()); ++c)
            header->resizeSection(c, std::max(widths[size_t(c)], header->sectionSizeHint(c)));
    } catch (...) {
        Clear();
    }
}

void TDeviceArchiveView::Clear()
{
    Model->SetArchive(nullptr);
    ReferencePanel->clear();
    // A chart of records no longer shown would pass for the page's.
    if (ChartWindow)
        ChartWindow->close();
}

void TDeviceArchiveView::BuildColumnDescriptions()
{
    const TOPVarList *names = archiveData_->Names();
    if (!varNames_ || !varDescriptions_ || !names)
        return;
    auto built = std::make_unique<TOPVarList>();
    for (int c = 0; c < names->Count(); ++c) {
        const int i = varNames_->IndexOfName(names->GetItem(c)->Name);
        if (i < 0)
            continue;
        const TOPVarListItem *description = varDescriptions_->GetItem(i);
        if (!description)
            break;
        built->Add(description->Name);
    }
    columnDescriptions_ = std::move(built);
}

void TDeviceArchiveView::ShowColumnReference(int column)
{
    ReferencePanel->setText(FromCp1251(ColumnReference(column)));
}

QByteArray TDeviceArchiveView::ColumnReference(int column) const
{
    QByteArray text;
    if (column >= 0 && column < Model->columnCount()) {
        if (varNames_ && varDescriptions_) {
            const int i = varNames_->IndexOfName(Model->ColumnName(column));
            if (const TOPVarListItem *item = i >= 0 ? varDescriptions_->GetItem(i) : nullptr)
                text = item->Name;
        } else if (const TOPVarList *descriptions = archiveData_->Descriptions()) {
            if (const TOPVarListItem *item = descriptions->GetItem(column))
                text = item->Name;
        }
    }
    return text;
}

int TDeviceArchiveView::CurrentColumn() const
{
    const QModelIndex current = ArchiveGrid->currentIndex();
    return current.isValid() ? current.column() : -1;
}

void TDeviceArchiveView::SetPrompt(OperatorPrompt *prompt)
{
    prompt_ = prompt ? prompt : ownPrompt_.get();
    // The chart window keeps the prompt it was made with: the next chart
    // gets a window with the new one.
    delete ChartWindow;
    ChartWindow = nullptr;
}

void TDeviceArchiveView::OpenChart(int column)
{
    if (Model->columnCount() == 0 || column < 0 || column >= Model->columnCount())
        return;
    const int timeColumn = ArchiveColumnIndex(*archiveData_, "DATETIME");
    if (timeColumn < 0) {
        prompt_->Warning(QString::fromUtf8("В архиве нет столбца DATETIME: графику нужна ось времени"));
        return;
    }
    if (column == timeColumn) {
        prompt_->Warning(QString::fromUtf8("DATETIME - ось времени графика: выберите столбец значений"));
        return;
    }
    if (!ChartWindow)
        ChartWindow = new TArchiveChartWindow(*prompt_, this);
    TArchiveChartSeries series = BuildArchiveChartSeries(*archiveData_, column);
    series.Description = ColumnReference(column);
    ChartWindow->ShowSeries(std::move(series));
    ChartWindow->SetStatisticsRecords(
        CollectStatRecords(TArchiveTable(*archiveData_), ChartWindow->Series().ColumnName));
    ChartWindow->show();
    ChartWindow->raise();
}

void TDeviceArchiveView::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    ArchiveResize();
}

// The table fills the view but for a margin of 3 pixels and the panel of
// one line under it. The column widths stay as the archive set them.
void TDeviceArchiveView::ArchiveResize()
{
    const int w = width();
    const int h = height();
    ArchiveGrid->setGeometry(3, 3, std::max(0, w - 6), std::max(0, h - kReferenceHeight - 6));
    ReferencePanel->setGeometry(3, ArchiveGrid->geometry().bottom() + 1, ArchiveGrid->width(), kReferenceHeight);
}

bool TDeviceArchiveView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
        if (watched == ArchiveGrid->viewport()) {
            VarListGridMouseMove(pos);
        } else if (watched == ArchiveGrid->horizontalHeader()->viewport()) {
            // Over the header row the current cell stays; the panel names
            // the column under the mouse.
            if (archiveData_->Names())
                ShowColumnReference(ArchiveGrid->horizontalHeader()->logicalIndexAt(pos));
        }
    } else if (event->type() == QEvent::MouseButtonDblClick &&
               watched == ArchiveGrid->horizontalHeader()->viewport()) {
        const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
        OpenChart(ArchiveGrid->horizontalHeader()->logicalIndexAt(pos));
        return true;
    } else if (event->type() == QEvent::KeyRelease && watched == ArchiveGrid) {
        VarListGridKeyUp();
    }
    return QFrame::eventFilter(watched, event);
}

void TDeviceArchiveView::VarListGridMouseMove(const QPoint &pos)
{
    const QModelIndex index = ArchiveGrid->indexAt(pos);
    if (index.isValid() && index != ArchiveGrid->currentIndex())
        ArchiveGrid->setCurrentIndex(index);
    if (archiveData_->Names())
        ShowColumnReference(CurrentColumn());
}

void TDeviceArchiveView::VarListGridKeyUp()
{
    ShowColumnReference(CurrentColumn());
}
