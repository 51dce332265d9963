#include "report/spectrumreport.h"

#include <QPainter>

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

    const QImage plot = source.Plot;
    const double aspect = plot.isNull() ? 0.5 : double(plot.height()) / std::max(1, plot.width());
    // As wide as the page (180 mm of A4 between the margins), the view's proportions.
    report->AddDrawing(std::min(180 * aspect, 160.0), [plot](QPainter &painter, const QRectF &area) {
        painter.setPen(QPen(Qt::black, 0));
        if (plot.isNull()) {
            painter.drawRect(area);
            return;
        }
        const QSizeF size = QSizeF(plot.size()).scaled(area.size(), Qt::KeepAspectRatio);
        const QRectF target(area.topLeft(), size);
        // Pixel for pixel, as on the screen: no smoothing of the line.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, plot);
        painter.drawRect(target);
    });
    if (!source.Peaks.isEmpty()) {
        report->AddHeading(QStringLiteral("Пики"));
        report->AddTable(std::make_shared<TReportTextTable>(source.PeakHeadings, source.Peaks));
    }
    return report;
}
