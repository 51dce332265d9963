#include "views/spectrplot.h"

#include "instrument/radiationspectr.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// A point this far outside the plot is as good as any farther one: the
// painter clips it, and the few pixels inside keep their place.
constexpr qint64 kFarOutside = 1 << 20;

constexpr int kLastChannel = TRadiationSpectr::ChannelCount - 1;
// The vertical zoom runs from 1 to this.
constexpr int kZoomLast = 101;

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
} // namespace

int SpectrColumnsNeeded(int scale)
{
    return scale > 0 ? TRadiationSpectr::ChannelCount / scale : 0;
}

int SpectrScrollMaximum(int scale, int plotWidth)
{
    const int needed = SpectrColumnsNeeded(scale);
    return plotWidth < needed ? needed - plotWidth : 0;
}

qint32 SpectrPeak(const TRadiationSpectr &spectrum)
{
    qint32 peak = 32;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        peak = qMax(peak, spectrum.GetCount(c));
    return peak;
}

qint64 SpectrColumnSum(const TRadiationSpectr &spectrum, int first, int scale)
{
    qint64 sum = 0;
    for (int c = first + 1; c <= first + scale && c < kLastChannel; ++c)
        sum += spectrum.GetCount(c);
    return sum;
}

double SpectrLogDecades(double top, int zoom)
{
    const double least = std::min(1.0, top);
    return top - (top - least) * (std::clamp(zoom, 1, kZoomLast) - 1) / (kZoomLast - 1);
}

namespace {
// The column sum of the main line: with the background subtracted, never
// below zero.
qint64 mainColumnSum(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame, int first)
{
    const qint64 sum = SpectrColumnSum(spectrum, first, frame.Scale);
    if (!frame.SubtractBackground || !frame.Background)
        return sum;
    return qMax<qint64>(0, sum - SpectrColumnSum(*frame.Background, first, frame.Scale));
}
} // namespace

qint64 SpectrFramePeak(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame)
{
    if (frame.LogScale) {
        qint64 top = 32;
        for (int d = 0, n = SpectrColumnsNeeded(frame.Scale); d < n; ++d)
            top = qMax(top, mainColumnSum(spectrum, frame, d * frame.Scale));
        return top;
    }
    if (!frame.SubtractBackground || !frame.Background)
        return SpectrPeak(spectrum);
    qint64 peak = 32;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        peak = qMax(peak, qint64(spectrum.GetCount(c)) - frame.Background->GetCount(c));
    return peak;
}

qint64 SpectrColumnHeight(qint64 sum, qint64 peak, const TSpectrPlotFrame &frame)
{
    long double h;
    if (frame.LogScale) {
        // The peak is at least 32: the decades shown are never zero.
        const long double top = std::log10(1.0L + peak);
        const long double decades = SpectrLogDecades(double(top), frame.Zoom);
        const long double above = (sum > 0 ? std::log10(1.0L + sum) : 0) - (top - decades);
        // The largest column on the plot's top row, not a pixel above it.
        h = std::max<long double>(0, std::trunc(above * (frame.Height - 1) / decades));
    } else {
        const long double divisor = frame.Zoom * 0.2L * peak / frame.Height;
        h = std::trunc(sum / divisor);
    }
    return qint64(qBound<long double>(-kFarOutside, h, kFarOutside));
}

namespace {
// One line of the plot: the column sums that `sumOf` gives, measured against
// the peak, one point per column the frame shows.
template <typename SumOf>
QList<TSpectrPlotPoint> plotLine(const TSpectrPlotFrame &frame, qint64 peak, SumOf sumOf, bool markable)
{
    QList<TSpectrPlotPoint> points;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Scale <= 0)
        return points;
    const int columns = qMin(SpectrColumnsNeeded(frame.Scale), frame.Width) - 1;
    if (columns <= 0)
        return points;
    points.reserve(columns);
    for (int d = 0; d < columns; ++d) {
        const qint64 first = qint64(frame.Position + d) * frame.Scale;
        const qint64 height = SpectrColumnHeight(sumOf(clampToInt(first)), peak, frame);
        TSpectrPlotPoint point;
        point.Point = QPoint(d, int(frame.Height - height - 1));
        point.Marked = markable && first >= frame.MarkerLow && first < frame.MarkerHigh;
        points.append(point);
    }
    return points;
}
} // namespace

QList<TSpectrPlotPoint> SpectrPlotPoints(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame)
{
    return plotLine(frame, SpectrFramePeak(spectrum, frame),
                    [&](int first) { return mainColumnSum(spectrum, frame, first); }, true);
}

QList<TSpectrPlotPoint> SpectrBackgroundPoints(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame)
{
    if (!frame.ShowBackground || !frame.Background)
        return {};
    const TRadiationSpectr &background = *frame.Background;
    return plotLine(frame, SpectrFramePeak(spectrum, frame),
                    [&](int first) { return SpectrColumnSum(background, first, frame.Scale); }, false);
}

void DrawSpectrPlot(QPixmap &pixmap, const QColor &background, const TRadiationSpectr *spectrum,
                    const TSpectrPlotFrame &frame)
{
    pixmap.fill(background);
    if (!spectrum)
        return;
    const QList<TSpectrPlotPoint> points = SpectrPlotPoints(*spectrum, frame);
    if (points.isEmpty())
        return;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The background first, so that where the two lines meet the measured
    // spectrum shows.
    if (const QList<TSpectrPlotPoint> under = SpectrBackgroundPoints(*spectrum, frame); !under.isEmpty()) {
        QPolygon line;
        line.reserve(under.size() + 1);
        line << QPoint(1, frame.Height - 1);
        for (const TSpectrPlotPoint &point : under)
            line << point.Point;
        painter.setPen(QPen(kSpectrBackgroundColor, 0));
        painter.drawPolyline(line);
    }
    // Line by line from (1, Height - 1) through the points, each line with
    // both of its end pixels, so that a point takes the colour of the line
    // that leaves it. The lines of a run in one colour go in one call.
    QList<QLine> run;
    run.reserve(points.size());
    QPoint from(1, frame.Height - 1);
    bool marked = points.first().Marked;
    auto flush = [&] {
        painter.setPen(QPen(marked ? kSpectrMarkedColor : kSpectrPlainColor, 0));
        painter.drawLines(run);
        run.clear();
    };
    for (const TSpectrPlotPoint &point : points) {
        if (point.Marked != marked) {
            flush();
            marked = point.Marked;
        }
        run.append(QLine(from, point.Point));
        from = point.Point;
    }
    flush();
}

int SpectrCursorChannel(int position, int mouseX, int scale)
{
    return std::clamp(clampToInt((qint64(position) + mouseX) * scale), 0, TRadiationSpectr::ChannelCount - 1);
}

qint32 SpectrCursorEnergy(int channel, long double coefA, long double coefB)
{
    const long double energy = std::nearbyint(coefA * channel + coefB); // ties to even
    if (std::isnan(energy) || energy <= 0)
        return 0;
    if (energy >= std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    return qint32(energy);
}
