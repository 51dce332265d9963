#include "report/spectrumreport.h"

#include "report/reportchart.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

// The plot with its axes around it: counts on the left, channels and (when
// calibrated) energies under it, each axis titled with its unit. The texts'
// boxes go to `layout`.
void DrawSpectrumReportPlot(QPainter &painter, const QRectF &area, const TSpectrumReportSource &s,
                            TReportChartLayout &layout)
{
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double line = metrics.lineSpacing();
    auto label = [&](const QPointF &baseline, const QString &text) {
        painter.drawText(baseline, text);
        layout.Labels << QRectF(baseline.x(), baseline.y() - metrics.ascent(), metrics.horizontalAdvance(text),
                                metrics.ascent() + metrics.descent());
    };
    auto countText = [](double v) { return QString::number(v, 'g', 4); };
    // Count ticks: five even ones, or the decades on a log scale.
    QList<double> counts;
    if (s.LogCounts) {
        const double bottom = std::log10(1 + std::max(0.0, s.CountsBottom)), top = std::log10(1 + s.CountsTop);
        for (int d = int(std::ceil(bottom)); d <= int(std::floor(top)); ++d)
            counts << std::pow(10.0, d);
    } else {
        for (int k = 0; k <= 4; ++k)
            counts << s.CountsBottom + (s.CountsTop - s.CountsBottom) * k / 4;
    }
    double countWidth = 0;
    for (double v : counts)
        countWidth = std::max(countWidth, metrics.horizontalAdvance(countText(v)));
    const bool energies = !(s.CoefA == 1 && s.CoefB == 0);
    const int rows = energies ? 2 : 1;
    const QRectF room(area.left() + countWidth + line * 0.5, area.top() + line * 1.5,
                      area.width() - countWidth - line * 1.5, area.height() - line * (2.0 + 1.2 * rows));
    const QSizeF size = QSizeF(s.Plot.size()).scaled(room.size(), Qt::KeepAspectRatio);
    const QRectF plot(room.topLeft(), size);
    layout.Plot = plot;
    // Pixel for pixel, as on the screen: no smoothing of the line.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(plot, s.Plot);
    painter.setPen(QPen(Qt::black, 0));
    painter.drawRect(plot);

    label(QPointF(area.left(), area.top() + metrics.ascent()),
          s.LogCounts ? QStringLiteral("Отсчёты в столбце (логарифмическая шкала)") : QStringLiteral("Отсчёты в столбце"));
    auto countY = [&](double v) {
        const double f = s.LogCounts ? (std::log10(1 + v) - std::log10(1 + std::max(0.0, s.CountsBottom))) /
                                           (std::log10(1 + s.CountsTop) - std::log10(1 + std::max(0.0, s.CountsBottom)))
                                     : (v - s.CountsBottom) / (s.CountsTop - s.CountsBottom);
        return plot.bottom() - f * plot.height();
    };
    if (s.CountsTop > s.CountsBottom)
        for (double v : counts) {
            const QString text = countText(v);
            const double y = countY(v);
            painter.drawLine(QPointF(plot.left() - line * 0.2, y), QPointF(plot.left(), y));
            label(QPointF(plot.left() - line * 0.3 - metrics.horizontalAdvance(text),
                          std::clamp(y + metrics.ascent() / 2 - metrics.descent() / 2, plot.top() + metrics.ascent() / 2,
                                     plot.bottom() + metrics.ascent() / 2)),
                  text);
        }

    // Five channels along the plot, and their energies under them.
    const int columns = s.Plot.width();
    const double columnWidth = plot.width() / std::max(1, columns);
    double right = plot.left() - line; // where the last text ended, per row
    double rightEnergy = right;
    for (int k = 0; k <= 4; ++k) {
        const int column = (columns - 1) * k / 4;
        const int channel = s.FirstChannel + column * s.ChannelsPerColumn;
        const double x = plot.left() + (column + 0.5) * columnWidth;
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + line * 0.2));
        const QString text = QString::number(channel);
        const double w = metrics.horizontalAdvance(text);
        const double left = std::clamp(x - w / 2, std::max(plot.left(), right + line * 0.5), area.right() - w);
        label(QPointF(left, plot.bottom() + line * 0.3 + metrics.ascent()), text);
        right = left + w;
        if (energies) {
            const QString keV = QString::number(double(s.CoefA * channel + s.CoefB), 'f', 0);
            const double we = metrics.horizontalAdvance(keV);
            const double leftE = std::clamp(x - we / 2, std::max(plot.left(), rightEnergy + line * 0.5), area.right() - we);
            label(QPointF(leftE, plot.bottom() + line * 1.5 + metrics.ascent()), keV);
            rightEnergy = leftE + we;
        }
    }
    const QString title = energies ? QStringLiteral("Канал; энергия, кэВ") : QStringLiteral("Канал");
    label(QPointF(area.right() - metrics.horizontalAdvance(title), area.bottom() - metrics.descent()), title);
}

std::unique_ptr<TReportDocument> BuildSpectrumReport(const TSpectrumReportSource &source)
{
    auto report = std::make_unique<TReportDocument>(source.FontFamily);
    report->Title = QStringLiteral("Отчёт по спектру КВАРН-Т");
    report->AddTitle(QStringLiteral("%1 установки КВАРН-Т").arg(source.Name));
    QList<QPair<QString, QString>> header{
        {QStringLiteral("Спектр:"), source.Origin},
        {QStringLiteral("Калибровка:"), QStringLiteral("E = %1 × канал %2 %3 кэВ")
                                            .arg(double(source.CoefA), 0, 'g', 8)
                                            .arg(source.CoefB < 0 ? QStringLiteral("−") : QStringLiteral("+"))
                                            .arg(double(source.CoefB < 0 ? -source.CoefB : source.CoefB), 0, 'g', 8)},
    };
    if (!source.View.isEmpty())
        header << qMakePair(QStringLiteral("На графике:"), source.View);
    if (source.Marked) {
        header << qMakePair(QStringLiteral("Выделенная область:"),
                            QStringLiteral("каналы %1–%2").arg(source.Marked->first).arg(source.Marked->second));
        if (source.Area)
            header << qMakePair(QStringLiteral("Площадь:"), QString::number(*source.Area));
        if (source.NetArea)
            header << qMakePair(QStringLiteral("Площадь за вычетом фона:"), QString::number(*source.NetArea));
    } else {
        header << qMakePair(QStringLiteral("Выделенная область:"), QStringLiteral("нет"));
    }
    report->AddPairs(header);

    const double aspect = source.Plot.isNull() ? 0.5 : double(source.Plot.height()) / std::max(1, source.Plot.width());
    // As wide as the page (180 mm of A4 between the margins), the view's proportions.
    // The axes take about 25 mm besides.
    report->AddDrawing(std::min(180 * aspect, 160.0) + 25, [source](QPainter &painter, const QRectF &area) {
        painter.setPen(QPen(Qt::black, 0));
        if (source.Plot.isNull()) {
            painter.drawRect(area);
            return;
        }
        TReportChartLayout layout;
        DrawSpectrumReportPlot(painter, area, source, layout);
    });
    if (!source.Peaks.isEmpty()) {
        report->AddHeading(QStringLiteral("Пики"));
        report->AddTable(std::make_shared<TReportTextTable>(source.PeakHeadings, source.Peaks));
    }
    return report;
}
