#pragma once
// The chart of one archive column against time, in a window of its own:
// the values as a line, the alarm thresholds as lines when the archive has
// them, zoom by dragging over a time range and back by a double click, the
// time and value under the mouse, and export of the picture (PNG) and of the
// shown time range (CSV) through the operator prompt.
//
// The window keeps the whole series and gives the line only as many points
// as the plot has pixels to show (first, lowest, highest and last of each
// pixel column): a week of ten-second records zooms as fast as a day.

#include "analysis/archivestats.h"
#include "views/archivechart.h"

#include <QChartView>
#include <QWidget>

class OperatorPrompt;
class QChart;
class QCheckBox;
class QComboBox;
class QSpinBox;
class QDateTimeAxis;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

// The plot: dragging selects a time range to zoom to, a double click goes
// back to the whole series, and the mouse's place is reported in the axes'
// units.
class TArchiveChartView : public QChartView {
    Q_OBJECT
public:
    explicit TArchiveChartView(QChart *chart, QWidget *parent = nullptr);

signals:
    void MouseAt(const QPointF &value, bool inPlot);
    void ZoomReset();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

class TArchiveChartWindow : public QWidget {
    Q_OBJECT
public:
    TArchiveChartWindow(OperatorPrompt &prompt, QWidget *parent = nullptr);

    // Takes the series and shows all of it.
    void ShowSeries(TArchiveChartSeries series);
    const TArchiveChartSeries &Series() const { return series_; }

    // The time range shown, in the series' x units; the line is thinned to it.
    void ZoomTo(double xMin, double xMax);
    void ResetZoom();
    double ShownMin() const { return shownMin_; }
    double ShownMax() const { return shownMax_; }

    // The records the figures under the chart are computed from (the
    // column's values, thresholds and alarm flags); without them the line
    // stays empty.
    void SetStatisticsRecords(TStatRecords records);
    // The figures of the time range shown, as the line under the chart says them.
    TArchiveStats ShownStatistics() const;

    // Asks for a file name and saves; a failed save is reported.
    void ExportPng();
    void ExportCsv();

    QChart *Chart;
    TArchiveChartView *ChartView;
    QDateTimeAxis *TimeAxis;
    QValueAxis *ValueAxis;
    QLineSeries *ValueSeries;
    QLineSeries *Alarm1Series;
    QLineSeries *Alarm2Series;
    // A threshold beyond the value axis: its name and level at the plot's
    // top edge (or bottom edge, when below), in place of its line.
    QGraphicsSimpleTextItem *Alarm1Mark;
    QGraphicsSimpleTextItem *Alarm2Mark;
    QLabel *CursorReadout;
    QLabel *StatusLine;
    QPushButton *SavePngBtn;
    QPushButton *SaveCsvBtn;
    // The figures of the range shown, and the moving average beside the
    // values: off at start, its window in records or in hours.
    QLabel *StatisticsLine;
    QCheckBox *AverageCheck;
    QSpinBox *AverageWindow;
    QComboBox *AverageUnit;
    QLineSeries *AverageSeries;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Rethin();
    // The value axis for the values shown, and each threshold as a line
    // within it or as a mark at its edge.
    void FitValueAxis();
    void PlaceThresholdMarks();
    void ShowCursor(const QPointF &value, bool inPlot);
    QLayout *CreateStatisticsControls();
    void UpdateStatistics();
    void ComputeAverage();

    OperatorPrompt &prompt_;
    TArchiveChartSeries series_;
    double fullMin_ = 0;
    double fullMax_ = 0;
    double shownMin_ = 0;
    double shownMax_ = 0;
    bool rethinning_ = false;
    TStatRecords statRecords_;
    QList<QPointF> average_; // the whole series' moving average; empty when off
};
