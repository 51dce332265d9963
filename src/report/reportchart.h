#pragma once
// The chart of one archive column against time on a report's page: the
// values as a line, the alarm thresholds as dashed steps, a value axis with
// round steps, times under the time axis and a legend. However many values
// there are, the line gets the lowest and highest of each of a few hundred
// slices of the time range: the same picture at a printer's resolution.

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

struct TReportChartSeries {
    QString ValueName;
    // The value axis's title with its unit ("ACTIVITY, Бк/м³"); the time
    // axis is titled "Время".
    QString ValueAxisTitle;
    // x: milliseconds of the installation's wall clock taken as UTC; in time order.
    QList<QPointF> Values;
    QList<QPointF> Alarm[2]; // steps: a point where a threshold starts, two where it changes
};

// Where the chart put its frame and its texts, for a check that no text
// touches the frame or another text.
struct TReportChartLayout {
    QRectF Plot;
    QList<QRectF> Labels;
};

// Labels in the painter's font.
void DrawReportChart(QPainter &painter, const QRectF &area, const TReportChartSeries &series,
                     TReportChartLayout *layout = nullptr);
