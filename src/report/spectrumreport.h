#pragma once
// The report of a spectrum: the plot as the view shows it (markers, scale,
// background), where the spectrum comes from, its energy calibration, the
// marked area and, when peaks were found, their table.

#include "report/reportdocument.h"

class QPainter;

#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

struct TSpectrumReportSource {
    QString Name;      // "Основной спектр", "Фоновый спектр"
    QString Origin;    // the file's name, or when it was read from the installation
    QImage Plot;       // the plot as shown
    // Its axes: the channel of the first pixel column and the channels each
    // column sums; the counts of a column at the plot's bottom and top rows,
    // on a logarithmic scale or not.
    int FirstChannel = 0;
    int ChannelsPerColumn = 1;
    double CountsBottom = 0;
    double CountsTop = 0;
    bool LogCounts = false;
    QString View;      // what the plot shows: channels, scale, background
    long double CoefA = 1;
    long double CoefB = 0;
    // The marked channels and their sum (and less the background's); none without markers.
    std::optional<QPair<int, int>> Marked;
    std::optional<qint64> Area;
    std::optional<qint64> NetArea;
    // The peaks found; no table when there are none.
    QStringList PeakHeadings;
    QList<QStringList> Peaks;
    QString FontFamily;
};

std::unique_ptr<TReportDocument> BuildSpectrumReport(const TSpectrumReportSource &source);

// The plot as the report draws it, with its axes; where its frame and texts
// went in `layout`.
struct TReportChartLayout;
void DrawSpectrumReportPlot(QPainter &painter, const QRectF &area, const TSpectrumReportSource &source,
                            TReportChartLayout &layout);
