#include "views/archivechartwindow.h"

#include "base/cp1251.h"
#include "report/archivereport.h"
#include "base/savefile.h"
#include "ui/operatorprompt.h"
#include "ui/u8.h"
#include "views/chartvalueaxis.h"

#include <QBuffer>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTimeZone>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {
constexpr const char *kPngFilter = "Рисунки PNG (*.png);;Все файлы (*.*)";
constexpr const char *kCsvFilter = "Таблицы CSV (*.csv);;Все файлы (*.*)";
constexpr const char *kSaveFailed = "Файл записать не удалось: ";

// Fewest pixel columns the line is thinned to, for a plot not yet laid out.
constexpr int kMinimumBuckets = 200;

QLineSeries *thresholdSeries(const char *name, const QColor &colour)
{
    auto *series = new QLineSeries;
    series->setName(QLatin1String(name));
    QPen pen(colour);
    pen.setWidth(1);
    pen.setStyle(Qt::DashLine);
    series->setPen(pen);
    return series;
}

QGraphicsSimpleTextItem *thresholdMark(QGraphicsItem *chart, const QColor &colour)
{
    auto *mark = new QGraphicsSimpleTextItem(chart);
    mark->setBrush(colour);
    mark->setZValue(10);
    mark->hide();
    return mark;
}

// "ALARM2 = 6000 ▲": the threshold's level (or its lowest and highest, when
// it changed) and which way the axis would have to go to show it.
QString thresholdMarkText(const char *name, const QList<QPointF> &levels, TThresholdPlace place)
{
    const auto [low, high] = std::minmax_element(levels.begin(), levels.end(),
                                                 [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
    QString text = QLatin1String(name) + QStringLiteral(" = ") + QString::number(low->y(), 'g', 8);
    if (high->y() != low->y())
        text += QStringLiteral("…") + QString::number(high->y(), 'g', 8);
    return text + (place == TThresholdPlace::Above ? QStringLiteral(" ▲") : QStringLiteral(" ▼"));
}
} // namespace

// --- the plot ---------------------------------------------------------------------

TArchiveChartView::TArchiveChartView(QChart *chart, QWidget *parent) : QChartView(chart, parent)
{
    setObjectName(QStringLiteral("ChartView"));
    setRubberBand(QChartView::HorizontalRubberBand);
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
}

void TArchiveChartView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    emit MouseAt(chart()->mapToValue(pos), chart()->plotArea().contains(pos));
    QChartView::mouseMoveEvent(event);
}

void TArchiveChartView::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit ZoomReset();
    event->accept();
}

// --- the window ---------------------------------------------------------------------

TArchiveChartWindow::TArchiveChartWindow(OperatorPrompt &prompt, QWidget *parent)
    : QWidget(parent, Qt::Window), prompt_(prompt)
{
    setObjectName(QStringLiteral("ArchiveChartWindow"));
    setWindowTitle(u8("График"));

    Chart = new QChart;
    Chart->legend()->setAlignment(Qt::AlignBottom);
    ValueSeries = new QLineSeries;
    ValueSeries->setPen(QPen(QColor(0, 0, 255), 1));
    Alarm1Series = thresholdSeries("ALARM1", QColor(230, 140, 0));
    Alarm2Series = thresholdSeries("ALARM2", QColor(220, 0, 0));
    TimeAxis = new QDateTimeAxis;
    TimeAxis->setFormat(QStringLiteral("dd/MM/yy hh.mm"));
    TimeAxis->setTickCount(7);
    ValueAxis = new QValueAxis;
    ValueAxis->setLabelFormat(QStringLiteral("%g"));
    Chart->addAxis(TimeAxis, Qt::AlignBottom);
    Chart->addAxis(ValueAxis, Qt::AlignLeft);
    for (QLineSeries *series : {ValueSeries, Alarm1Series, Alarm2Series}) {
        Chart->addSeries(series);
        series->attachAxis(TimeAxis);
        series->attachAxis(ValueAxis);
    }
    Alarm1Mark = thresholdMark(Chart, Alarm1Series->pen().color());
    Alarm2Mark = thresholdMark(Chart, Alarm2Series->pen().color());
    connect(Chart, &QChart::plotAreaChanged, this, &TArchiveChartWindow::PlaceThresholdMarks);
    connect(TimeAxis, &QDateTimeAxis::rangeChanged, this, [this](const QDateTime &min, const QDateTime &max) {
        if (rethinning_)
            return;
        shownMin_ = double(min.toMSecsSinceEpoch());
        shownMax_ = double(max.toMSecsSinceEpoch());
        Rethin();
    });

    ChartView = new TArchiveChartView(Chart, this);
    connect(ChartView, &TArchiveChartView::ZoomReset, this, &TArchiveChartWindow::ResetZoom);
    connect(ChartView, &TArchiveChartView::MouseAt, this, &TArchiveChartWindow::ShowCursor);

    CursorReadout = new QLabel(this);
    CursorReadout->setObjectName(QStringLiteral("CursorReadout"));
    CursorReadout->setTextFormat(Qt::PlainText);
    StatusLine = new QLabel(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setTextFormat(Qt::PlainText);
    SavePngBtn = new QPushButton(u8("Сохранить PNG..."), this);
    SavePngBtn->setObjectName(QStringLiteral("SavePngBtn"));
    connect(SavePngBtn, &QPushButton::clicked, this, &TArchiveChartWindow::ExportPng);
    SaveCsvBtn = new QPushButton(u8("Сохранить CSV..."), this);
    SaveCsvBtn->setObjectName(QStringLiteral("SaveCsvBtn"));
    connect(SaveCsvBtn, &QPushButton::clicked, this, &TArchiveChartWindow::ExportCsv);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(StatusLine, 1);
    bottom->addWidget(CursorReadout, 1);
    bottom->addWidget(SavePngBtn);
    bottom->addWidget(SaveCsvBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ChartView, 1);
    layout->addLayout(CreateStatisticsControls());
    layout->addLayout(bottom);
    resize(900, 520);
}

void TArchiveChartWindow::keyPressEvent(QKeyEvent *event)
{
    // Esc closes it as it closes a dialog; the chart's own keys come here
    // unhandled.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TArchiveChartWindow::ShowSeries(TArchiveChartSeries series)
{
    series_ = std::move(series);
    const QString name = FromCp1251(series_.ColumnName);
    setWindowTitle(u8("График: ") + name);
    ValueSeries->setName(name);

    ValueAxis->setTitleText(series_.Description.isEmpty() ? name : FromCp1251(series_.Description));

    // The whole time span of the values and thresholds.
    double xMin = 0, xMax = 0;
    bool any = false;
    for (const QList<QPointF> *line : {&series_.Points, &series_.Alarm1, &series_.Alarm2}) {
        for (const QPointF &p : *line) {
            xMin = any ? std::min(xMin, p.x()) : p.x();
            xMax = any ? std::max(xMax, p.x()) : p.x();
            any = true;
        }
    }
    if (xMax <= xMin)
        xMax = xMin + 60 * 1000; // a single time: a minute around it
    fullMin_ = xMin;
    fullMax_ = xMax;

    Alarm1Series->replace(series_.Alarm1);
    Alarm2Series->replace(series_.Alarm2);

    ResetZoom();
}

void TArchiveChartWindow::ResetZoom()
{
    ZoomTo(fullMin_, fullMax_);
}

void TArchiveChartWindow::ZoomTo(double xMin, double xMax)
{
    if (!(xMax > xMin))
        return;
    shownMin_ = xMin;
    shownMax_ = xMax;
    Rethin();
}

void TArchiveChartWindow::Rethin()
{
    rethinning_ = true;
    const int buckets = std::max(kMinimumBuckets, int(Chart->plotArea().width()));
    ValueSeries->replace(ThinChartPoints(series_.Points, shownMin_, shownMax_, buckets));
    TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(shownMin_)),
                       QDateTime::fromMSecsSinceEpoch(qint64(shownMax_)));
    AverageSeries->replace(ThinChartPoints(average_, shownMin_, shownMax_, buckets));
    rethinning_ = false;
    FitValueAxis();
    UpdateStatistics();
    // The count is of the records in the range shown, as the figures are.
    const auto inRange = std::count_if(series_.Points.cbegin(), series_.Points.cend(), [this](const QPointF &p) {
        return p.x() >= shownMin_ && p.x() <= shownMax_;
    });
    StatusLine->setText(u8("Записей на графике: %1 из %2; пропущено (время или значение не читается): %3")
                            .arg(inRange)
                            .arg(series_.Points.size())
                            .arg(series_.Skipped));
}

void TArchiveChartWindow::FitValueAxis()
{
    const TChartValueRange fitted = FitChartValueAxis(ValueSeries->points(), {&series_.Alarm1, &series_.Alarm2});
    ValueAxis->setRange(fitted.Min, fitted.Max);
    ValueAxis->applyNiceNumbers();
    const TChartValueRange axis{ValueAxis->min(), ValueAxis->max()};
    const struct {
        const char *name;
        bool recorded;
        const QList<QPointF> &levels;
        QLineSeries *line;
        QGraphicsSimpleTextItem *mark;
    } thresholds[] = {{"ALARM1", series_.HasAlarm1, series_.Alarm1, Alarm1Series, Alarm1Mark},
                      {"ALARM2", series_.HasAlarm2, series_.Alarm2, Alarm2Series, Alarm2Mark}};
    for (const auto &t : thresholds) {
        // A threshold the archive does not record is not drawn, nor named in the legend.
        const bool shown = t.recorded && !t.levels.isEmpty();
        const TThresholdPlace place = ChartThresholdPlace(t.levels, axis);
        t.line->setVisible(shown && place == TThresholdPlace::Inside);
        t.mark->setVisible(shown && place != TThresholdPlace::Inside);
        if (t.mark->isVisible())
            t.mark->setText(thresholdMarkText(t.name, t.levels, place));
        t.mark->setData(0, place == TThresholdPlace::Below);
    }
    PlaceThresholdMarks();
}

void TArchiveChartWindow::PlaceThresholdMarks()
{
    // Inside the plot's corner on the side the threshold lies, one under the
    // other when both lie there.
    const QRectF plot = Chart->plotArea();
    double top = plot.top() + 2, bottom = plot.bottom() - 2;
    for (QGraphicsSimpleTextItem *mark : {Alarm1Mark, Alarm2Mark}) {
        if (!mark->isVisible())
            continue;
        const QRectF box = mark->boundingRect();
        const double x = plot.right() - box.width() - 6;
        if (mark->data(0).toBool()) {
            bottom -= box.height();
            mark->setPos(x, bottom);
        } else {
            mark->setPos(x, top);
            top += box.height();
        }
    }
}

void TArchiveChartWindow::ShowCursor(const QPointF &value, bool inPlot)
{
    if (!inPlot) {
        CursorReadout->clear();
        return;
    }
    CursorReadout->setText(QString::fromLatin1(FormatArchiveDateTime(qint64(std::llround(value.x())))) +
                           QStringLiteral("   ") + QString::number(value.y(), 'g', 6));
}

void TArchiveChartWindow::ExportPng()
{
    const QString fileName = prompt_.SaveFileName(u8(kPngFilter), QStringLiteral("png"));
    if (fileName.isEmpty())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!ChartView->grab().save(&buffer, "PNG") || !SaveFileAtomically(fileName, png))
        prompt_.Error(u8(kSaveFailed) + fileName);
}

void TArchiveChartWindow::ExportCsv()
{
    const QString fileName = prompt_.SaveFileName(u8(kCsvFilter), QStringLiteral("csv"));
    if (fileName.isEmpty())
        return;
    if (!SaveFileAtomically(fileName, ArchiveChartCsv(series_, shownMin_, shownMax_)))
        prompt_.Error(u8(kSaveFailed) + fileName);
}

// --- the figures of the range shown and the moving average -----------------------

QLayout *TArchiveChartWindow::CreateStatisticsControls()
{
    AverageSeries = new QLineSeries;
    AverageSeries->setName(u8("Скользящее среднее"));
    AverageSeries->setPen(QPen(QColor(0, 160, 0), 2));
    AverageSeries->setVisible(false);
    Chart->addSeries(AverageSeries);
    AverageSeries->attachAxis(TimeAxis);
    AverageSeries->attachAxis(ValueAxis);

    StatisticsLine = new QLabel(this);
    StatisticsLine->setObjectName(QStringLiteral("StatisticsLine"));
    StatisticsLine->setTextFormat(Qt::PlainText);
    StatisticsLine->setWordWrap(true);
    AverageCheck = new QCheckBox(u8("Скользящее среднее по"), this);
    AverageCheck->setObjectName(QStringLiteral("AverageCheck"));
    AverageWindow = new QSpinBox(this);
    AverageWindow->setObjectName(QStringLiteral("AverageWindow"));
    AverageWindow->setRange(1, 100000);
    AverageWindow->setValue(10);
    AverageUnit = new QComboBox(this);
    AverageUnit->setObjectName(QStringLiteral("AverageUnit"));
    AverageUnit->addItems({u8("записей"), u8("ч")});
    connect(AverageCheck, &QCheckBox::toggled, this, &TArchiveChartWindow::ComputeAverage);
    connect(AverageWindow, &QSpinBox::valueChanged, this, &TArchiveChartWindow::ComputeAverage);
    connect(AverageUnit, &QComboBox::currentIndexChanged, this, &TArchiveChartWindow::ComputeAverage);

    auto *row = new QHBoxLayout;
    row->addWidget(StatisticsLine, 1);
    row->addWidget(AverageCheck);
    row->addWidget(AverageWindow);
    row->addWidget(AverageUnit);
    return row;
}

void TArchiveChartWindow::SetStatisticsRecords(TStatRecords records)
{
    statRecords_ = std::move(records);
    ComputeAverage();
}

void TArchiveChartWindow::ComputeAverage()
{
    const bool on = AverageCheck->isChecked();
    if (!on)
        average_.clear();
    else if (AverageUnit->currentIndex() == 0)
        average_ = MovingAverageByCount(series_.Points, AverageWindow->value());
    else
        average_ = MovingAverageBySpan(series_.Points, AverageWindow->value() * 3600.0 * 1000);
    AverageSeries->setVisible(on);
    Rethin();
}

TArchiveStats TArchiveChartWindow::ShownStatistics() const
{
    // The axis runs in this computer's local time, the records' times are
    // the installation's wall clock: the same reading on both.
    auto wallClock = [](double msecs) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(msecs)));
        return QDateTime(local.date(), local.time(), QTimeZone::utc()).toMSecsSinceEpoch();
    };
    return ComputeArchiveStats(statRecords_, wallClock(shownMin_), wallClock(std::ceil(shownMax_)));
}

void TArchiveChartWindow::UpdateStatistics()
{
    if (statRecords_.Records.empty()) {
        StatisticsLine->clear();
        return;
    }
    const TArchiveStats stats = ShownStatistics();
    QString text = u8("На графике: значений %1, мин %2, макс %3, среднее %4, ско %5, среднее по времени %6")
                       .arg(stats.Count)
                       .arg(ReportNumber(stats.Min), ReportNumber(stats.Max), ReportNumber(stats.Mean), ReportNumber(stats.StdDev),
                            ReportNumber(stats.TimeWeightedMean));
    for (int level = 0; level < 2; ++level)
        if (stats.Above[level])
            text += u8("; выше ALARM%1: %2").arg(level + 1).arg(ReportDuration(*stats.Above[level]));
    if (statRecords_.HasAlarm[0] || statRecords_.HasAlarm[1])
        text += u8("; превышений: %1").arg(stats.Exceedances.size());
    StatisticsLine->setText(text);
}
