#pragma once
// The report of a spectrum: the plot as the view shows it (markers, scale,
// background), where the spectrum comes from, its energy calibration, the
// marked area and, when peaks were found, their table.

#include "report/reportdocument.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

struct TSpectrumReportSource {
    QString Name;      // "Основной спектр", "Фоновый спектр"
    QString Origin;    // the file's name, or when it was read from the installation
    QImage Plot;       // the plot as shown
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
