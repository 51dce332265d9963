#pragma once
// The table of the installation's archive on the page "Архив": one column per
// recorded variable, one row per record, the variable names in the header,
// and under the table a panel with the description of the column under the
// mouse or of the current column.
//
// The view keeps its own copy of the archive it shows (ArchiveData): that is
// what the window saves to a file, even after the table has been emptied.
// The table is a model over that copy, so an archive of a hundred thousand
// records costs no more than the copy itself, and only the rows in sight are
// ever turned into display text.

#include "instrument/devicearchive.h"
#include "protocol/opvarlist.h"

#include <QAbstractTableModel>
#include <QFrame>
#include <memory>
#include <vector>

class OperatorPrompt;
class QLabel;
class QMenu;
class QTableView;
class TArchiveChartWindow;

// The rows and columns of an archive as the table shows them. Values are
// taken by position: a record with fewer items than columns shows blanks.
class TArchiveTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TArchiveTableModel(QObject *parent = nullptr);

    // Shows the archive (not owned; it must outlive the model or be detached
    // first); null empties the table.
    void SetArchive(const TDeviceArchive *archive);
    const TDeviceArchive *Archive() const { return archive_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The code page 1251 value of a cell and the name of a column; empty
    // outside the table.
    QByteArray Value(int row, int column) const;
    QByteArray ColumnName(int column) const;

private:
    const TDeviceArchive *archive_ = nullptr;
    int rows_ = 0;
    int columns_ = 0;
};

// Widths of the columns: each as wide as its widest text (the name
// included) plus 7 pixels, and never under minimum. Values are measured
// through a table of character advances, which costs one addition per
// character; the widest candidate of each column is then measured whole, so
// kerning can only make a column a little wider than needed, never narrower.
std::vector<int> ArchiveColumnWidths(const TDeviceArchive &archive, const QFontMetrics &metrics, int minimum = 10);

class TDeviceArchiveView : public QFrame {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 18;
    static constexpr int kReferenceHeight = 22;
    static constexpr int kDefaultColumnWidth = 10;
    // Widening beyond the text: seven grid line widths of one pixel.
    static constexpr int kCellMargin = 7;

    explicit TDeviceArchiveView(QWidget *parent = nullptr);
    ~TDeviceArchiveView() override;

    // Copies of the installation's variable names and their descriptions
    // (item i describes name i), then the column descriptions are rebuilt.
    void SetColumns(const TOPVarList *varNames, const TOPVarList *varDescriptions);
    // Copies the archive into ArchiveData and draws it.
    void ShowArchive(const TDeviceArchive &archive);
    // Fills the table from ArchiveData; an archive without names or without
    // records empties it.
    void DrawArchive();
    // Empties the table; ArchiveData and the lists stay.
    void Clear();
    // The descriptions of ArchiveData's columns, in column order: each name
    // is looked up in the variable names (ignoring letter case); a name not
    // found adds nothing, and the building stops at the first found position
    // that has no description.
    void BuildColumnDescriptions();
    // The description of column c into the panel, or an empty panel.
    void ShowColumnReference(int column);
    // That description (code page 1251), or an empty text.
    QByteArray ColumnReference(int column) const;

    // The view's copy, which the window saves with ColumnDescriptions.
    TDeviceArchive &ArchiveData() { return *archiveData_; }
    const TDeviceArchive &ArchiveData() const { return *archiveData_; }
    const TOPVarList *VarNames() const { return varNames_.get(); }
    const TOPVarList *VarDescriptions() const { return varDescriptions_.get(); }
    const TOPVarList *ColumnDescriptions() const { return columnDescriptions_.get(); }

    // The table's current column, or -1.
    int CurrentColumn() const;

    // The prompt the chart's messages and file dialogs go through (not
    // owned); without one they go to the screen.
    void SetPrompt(OperatorPrompt *prompt);
    // The chart of a column against DATETIME, in a window of its own: from
    // the table's context menu and a double click on a column's header. An
    // archive without DATETIME, or the time column itself, gets a warning.
    void OpenChart(int column);

    QTableView *ArchiveGrid = nullptr;
    QLabel *ReferencePanel = nullptr;
    TArchiveTableModel *Model = nullptr;
    QMenu *ArchivePopupMenu = nullptr;
    // Made when first opened, then reused.
    TArchiveChartWindow *ChartWindow = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // After a new archive: the open chart follows it, or closes.
    void FollowChart();
    void ArchiveResize();
    void VarListGridMouseMove(const QPoint &pos);
    void VarListGridKeyUp();

    std::unique_ptr<TDeviceArchive> archiveData_;
    std::unique_ptr<TOPVarList> varNames_;
    std::unique_ptr<TOPVarList> varDescriptions_;
    std::unique_ptr<TOPVarList> columnDescriptions_;
    std::unique_ptr<OperatorPrompt> ownPrompt_;
    OperatorPrompt *prompt_ = nullptr;
    // The column the context menu was opened on.
    int menuColumn_ = -1;
};
