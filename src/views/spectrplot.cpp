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

QList<TSpectrPlotPoint> SpectrPlotPoints(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame)
{
    QList<TSpectrPlotPoint> points;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Scale <= 0)
        return points;
    const int columns = qMin(SpectrColumnsNeeded(frame.Scale), frame.Width) - 1;
    if (columns <= 0)
        return points;
    const long double divisor = frame.Zoom * 0.2L * SpectrPeak(spectrum) / frame.Height;
    points.reserve(columns);
    for (int d = 0; d < columns; ++d) {
        const qint64 first = qint64(frame.Position + d) * frame.Scale;
        const long double h = std::trunc(SpectrColumnSum(spectrum, clampToInt(first), frame.Scale) / divisor);
        const qint64 height = qint64(qBound<long double>(-kFarOutside, h, kFarOutside));
        TSpectrPlotPoint point;
        point.Point = QPoint(d, int(frame.Height - height - 1));
        point.Marked = first >= frame.MarkerLow && first < frame.MarkerHigh;
        points.append(point);
    }
    return points;
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
    return clampToInt((qint64(position) + mouseX) * scale);
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
