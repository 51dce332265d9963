#include "report/reportchart.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QPainter>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr int kSlices = 600;
const QColor kValueColor(0, 0, 255);
const QColor kAlarmColor[2] = {QColor(230, 140, 0), QColor(220, 0, 0)};

// A round step (1, 2 or 5 times a power of ten) giving about `ticks` ticks.
double roundStep(double span, int ticks)
{
    if (!(span > 0))
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

// The first, lowest, highest and last value of every slice, in time order.
QList<QPointF> reduced(const QList<QPointF> &points, double xMin, double xMax)
{
    if (points.size() <= 4 * kSlices)
        return points;
    QList<QPointF> out;
    const double width = (xMax - xMin) / kSlices;
    qsizetype i = 0;
    while (i < points.size()) {
        const int slice = std::min(kSlices - 1, int((points[i].x() - xMin) / width));
        qsizetype first = i, low = i, high = i, last = i;
        for (++i; i < points.size() && std::min(kSlices - 1, int((points[i].x() - xMin) / width)) == slice; ++i) {
            last = i;
            if (points[i].y() < points[low].y())
                low = i;
            if (points[i].y() > points[high].y())
                high = i;
        }
        qsizetype chosen[4] = {first, low, high, last};
        std::sort(chosen, chosen + 4);
        for (int k = 0; k < 4; ++k)
            if (k == 0 || chosen[k] != chosen[k - 1])
                out.append(points[chosen[k]]);
    }
    return out;
}
} // namespace

void DrawReportChart(QPainter &painter, const QRectF &area, const TReportChartSeries &series,
                     TReportChartLayout *layout)
{
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double line = metrics.lineSpacing();
    const double unit = line / 10; // pen widths and ticks follow the type size

    double xMin = 0, xMax = 0, yMin = 0, yMax = 1;
    bool any = false;
    for (const QList<QPointF> *points : {&series.Values, &series.Alarm[0], &series.Alarm[1]})
        for (const QPointF &p : *points) {
            xMin = any ? std::min(xMin, p.x()) : p.x();
            xMax = any ? std::max(xMax, p.x()) : p.x();
            yMin = any ? std::min(yMin, p.y()) : p.y();
            yMax = any ? std::max(yMax, p.y()) : p.y();
            any = true;
        }
    if (xMax <= xMin)
        xMax = xMin + 60 * 1000;
    if (yMin >= 0)
        yMin = 0; // activities are never negative: the axis starts at zero
    // Values far beyond any activity are held where their span stays a number.
    constexpr double kFar = std::numeric_limits<double>::max() / 8;
    yMin = std::clamp(yMin, -kFar, kFar);
    yMax = std::clamp(yMax, -kFar, kFar);
    if (!(yMax > yMin))
        yMax = yMin + std::max(1.0, std::abs(yMin) * 1e-9);
    yMax += (yMax - yMin) * 0.04; // a threshold at the top stays clear of the frame
    double step = roundStep(yMax - yMin, 6);
    yMin = std::floor(yMin / step) * step;
    yMax = std::ceil(yMax / step) * step;
    // The ticks by count: where a step is below the values' precision,
    // adding it would never reach the top.
    int ticks = int(std::lround((yMax - yMin) / step));
    if (!(ticks >= 1 && ticks <= 50)) {
        ticks = 1;
        step = yMax - yMin;
    }
    std::vector<double> tickValues;
    for (int k = 0; k <= ticks; ++k)
        tickValues.push_back(yMin + k * step);

    double labelWidth = 0;
    for (double v : tickValues)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(QString::number(v, 'g', 6)));
    // A line for the value axis's title above the plot, then the plot, the
    // times under it, and the legend with the time axis's title.
    const QRectF plot(area.left() + labelWidth + line * 0.5, area.top() + line * 2,
                      area.width() - labelWidth - line * 1.5, area.height() - line * 5);
    TReportChartLayout placed;
    placed.Plot = plot;
    // Every text goes through here, so that its box is known.
    auto label = [&](const QPointF &baseline, const QString &text) {
        painter.drawText(baseline, text);
        placed.Labels << QRectF(baseline.x(), baseline.y() - metrics.ascent(), metrics.horizontalAdvance(text),
                                metrics.ascent() + metrics.descent());
    };
    auto px = [&](double x) { return plot.left() + (x - xMin) / (xMax - xMin) * plot.width(); };
    auto py = [&](double y) { return plot.bottom() - (std::clamp(y, -kFar, kFar) - yMin) / (yMax - yMin) * plot.height(); };

    // Grid and value axis.
    painter.setPen(QPen(QColor(200, 200, 200), unit * 0.5));
    for (double v : tickValues)
        painter.drawLine(QPointF(plot.left(), py(v)), QPointF(plot.right(), py(v)));
    painter.setPen(QPen(Qt::black, unit));
    painter.drawRect(plot);
    for (double v : tickValues) {
        const QString text = QString::number(v, 'g', 6);
        label(QPointF(plot.left() - line * 0.25 - metrics.horizontalAdvance(text),
                      py(v) + metrics.ascent() / 2 - metrics.descent() / 2),
              text);
    }
    label(QPointF(area.left(), area.top() + metrics.ascent()),
          series.ValueAxisTitle.isEmpty() ? series.ValueName : series.ValueAxisTitle);
    // Times: six along the axis, the first and last at the plot's ends.
    constexpr int kTimes = 6;
    for (int k = 0; k < kTimes; ++k) {
        const double x = xMin + (xMax - xMin) * k / (kTimes - 1);
        const QString text =
            QDateTime::fromMSecsSinceEpoch(qint64(x), QTimeZone::utc()).toString(QStringLiteral("dd.MM.yy hh:mm"));
        const double w = metrics.horizontalAdvance(text);
        // Right of the value labels, whose lowest one reaches below the frame.
        const double left = std::clamp(px(x) - w / 2, plot.left(), area.right() - w);
        painter.drawLine(QPointF(px(x), plot.bottom()), QPointF(px(x), plot.bottom() + unit * 3));
        label(QPointF(left, plot.bottom() + unit * 5 + metrics.ascent()), text);
    }

    painter.save();
    painter.setClipRect(plot);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int level = 0; level < 2; ++level) {
        QPen pen(kAlarmColor[level], unit * 1.5, Qt::DashLine);
        painter.setPen(pen);
        QPolygonF steps;
        for (const QPointF &p : series.Alarm[level])
            steps << QPointF(px(p.x()), py(p.y()));
        painter.drawPolyline(steps);
    }
    painter.setPen(QPen(kValueColor, unit));
    QPolygonF values;
    for (const QPointF &p : reduced(series.Values, xMin, xMax))
        values << QPointF(px(p.x()), py(p.y()));
    painter.drawPolyline(values);
    painter.restore();

    // Legend under the times.
    double x = plot.left();
    const double y = area.bottom() - metrics.descent();
    auto legend = [&](const QColor &colour, Qt::PenStyle style, const QString &name) {
        painter.setPen(QPen(colour, unit * 1.5, style));
        painter.drawLine(QPointF(x, y - metrics.ascent() / 3), QPointF(x + line * 2, y - metrics.ascent() / 3));
        painter.setPen(Qt::black);
        label(QPointF(x + line * 2.5, y), name);
        x += line * 4 + metrics.horizontalAdvance(name);
    };
    legend(kValueColor, Qt::SolidLine, series.ValueName);
    if (!series.Alarm[0].isEmpty())
        legend(kAlarmColor[0], Qt::DashLine, QStringLiteral("ALARM1"));
    if (!series.Alarm[1].isEmpty())
        legend(kAlarmColor[1], Qt::DashLine, QStringLiteral("ALARM2"));
    const QString timeTitle = QStringLiteral("Время (дд.мм.гг чч:мм)");
    label(QPointF(std::max(x, area.right() - metrics.horizontalAdvance(timeTitle)), y), timeTitle);
    if (layout)
        *layout = placed;
}
