#include "views/spectrpeaks.h"

#include "instrument/radiationspectr.h"
#include "instrument/spectrumformats.h"
#include "ui/u8.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

QTableWidgetItem *readOnly(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// A typed number: "." or "," as the decimal separator.
std::optional<double> typedNumber(const QTableWidgetItem *item)
{
    if (!item)
        return std::nullopt;
    QString text = item->text().trimmed();
    text.replace(u',', u'.');
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

} // namespace

std::vector<TPeak> FindSpectrumPeaks(const TRadiationSpectr &spectrum, const TRadiationSpectr *background)
{
    return FindNetPeaks(SpectrumCountsOf(spectrum), background ? SpectrumCountsOf(*background) : std::vector<double>{},
                        double(spectrum.CoefA), double(spectrum.CoefB));
}

std::optional<QPoint> SpectrPeakMarkPoint(const QList<TSpectrPlotPoint> &plotPoints, double channel,
                                          const TSpectrPlotFrame &frame)
{
    // Column d sums the channels (p + d) * s + 1 ... (p + d + 1) * s.
    const int c = int(std::lround(channel));
    const int column = (c - 1 >= 0 ? (c - 1) / frame.Scale : -1) - frame.Position;
    if (column < 0 || column >= plotPoints.size())
        return std::nullopt;
    return plotPoints[column].Point;
}

void DrawSpectrPeakMarks(QPixmap &pixmap, const TRadiationSpectr &spectrum, const std::vector<TPeak> &peaks,
                         const TSpectrPlotFrame &frame)
{
    const QList<TSpectrPlotPoint> line = SpectrPlotPoints(spectrum, frame);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kSpectrPeakColor, 0));
    painter.setBrush(kSpectrPeakColor);
    constexpr int kSize = 7;
    for (const TPeak &peak : peaks) {
        const std::optional<QPoint> at = SpectrPeakMarkPoint(line, peak.Channel, frame);
        if (!at)
            continue;
        // Just above the line, and inside the plot when the line runs off its top.
        const int tip = std::clamp(at->y() - 3, kSize, std::max(kSize, frame.Height - 1));
        const QPoint corners[] = {{at->x() - kSize / 2, tip - kSize}, {at->x() + kSize / 2, tip - kSize}, {at->x(), tip}};
        painter.drawPolygon(corners, 3);
    }
}

// --- "Пики" -------------------------------------------------------------------------------

QStringList PeakTableHeadings()
{
    return {u8("№"), u8("Канал"), u8("Энергия (кэВ)"), u8("FWHM (кан.)"), u8("Площадь ± σ"), u8("Нуклид")};
}

QList<QStringList> PeakTableRows(const std::vector<TPeak> &peaks)
{
    QList<QStringList> rows;
    for (size_t i = 0; i < peaks.size(); ++i) {
        const TPeak &p = peaks[i];
        rows.append({QString::number(i + 1), number(p.Channel, 2), number(p.EnergyKeV, 1), number(p.FwhmChannels, 2),
                     number(p.NetArea, 0) + QStringLiteral(" ± ") + number(p.NetAreaSigma, 0), p.Nuclide});
    }
    return rows;
}

TPeaksWindow::TPeaksWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PeaksWindow"));
    setWindowTitle(u8("Пики"));
    setModal(false);
    resize(620, 360);
    const QStringList headings = PeakTableHeadings();
    PeakTable = new QTableWidget(0, int(headings.size()), this);
    PeakTable->setObjectName(QStringLiteral("PeakTable"));
    PeakTable->setHorizontalHeaderLabels(headings);
    PeakTable->verticalHeader()->hide();
    PeakTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    PeakTable->setSelectionMode(QAbstractItemView::SingleSelection);
    PeakTable->horizontalHeader()->setStretchLastSection(true);
    Summary = new QLabel(this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PeakTable);
    layout->addWidget(Summary);
    connect(PeakTable, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0 && size_t(row) < peaks_.size())
            emit RegionChosen(peaks_[size_t(row)].RegionFirst, peaks_[size_t(row)].RegionLast);
    });
}

void TPeaksWindow::SetPeaks(const std::vector<TPeak> &peaks)
{
    const QSignalBlocker block(PeakTable);
    peaks_ = peaks;
    const QList<QStringList> rows = PeakTableRows(peaks);
    PeakTable->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < int(rows[r].size()); ++c)
            PeakTable->setItem(r, c, readOnly(rows[r][c]));
    PeakTable->clearSelection();
    PeakTable->setCurrentCell(-1, -1);
    Summary->setText(peaks.empty() ? u8("Пиков не найдено") : u8("Найдено пиков: %1").arg(peaks.size()));
}

// --- "Калибровка по пикам" ----------------------------------------------------------------

TPeakCalibrationWindow::TPeakCalibrationWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PeakCalibrationWindow"));
    setWindowTitle(u8("Калибровка по пикам"));
    resize(520, 420);
    PointTable = new QTableWidget(0, 3, this);
    PointTable->setObjectName(QStringLiteral("PointTable"));
    PointTable->setHorizontalHeaderLabels({u8("Канал"), u8("Энергия (кэВ)"), u8("Отклонение (кэВ)")});
    PointTable->horizontalHeader()->setStretchLastSection(true);
    FromPeaksBtn = new QPushButton(u8("Из найденных пиков"), this);
    AddRowBtn = new QPushButton(u8("Добавить строку"), this);
    DeleteRowBtn = new QPushButton(u8("Удалить строку"), this);
    LineLabel = new QLabel(this);
    LineLabel->setObjectName(QStringLiteral("LineLabel"));
    QuadraticLabel = new QLabel(this);
    QuadraticLabel->setObjectName(QStringLiteral("QuadraticLabel"));
    QuadraticLabel->setWordWrap(true);
    OKBtn = new QPushButton(u8("Применить"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(u8("Отменить"), this);

    auto *rowButtons = new QHBoxLayout;
    rowButtons->addWidget(FromPeaksBtn);
    rowButtons->addWidget(AddRowBtn);
    rowButtons->addWidget(DeleteRowBtn);
    auto *closeButtons = new QHBoxLayout;
    closeButtons->addStretch();
    closeButtons->addWidget(OKBtn);
    closeButtons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PointTable);
    layout->addLayout(rowButtons);
    layout->addWidget(LineLabel);
    layout->addWidget(QuadraticLabel);
    layout->addLayout(closeButtons);

    connect(FromPeaksBtn, &QPushButton::clicked, this, &TPeakCalibrationWindow::AddPeakRows);
    connect(AddRowBtn, &QPushButton::clicked, this, [this] { AddRow(); });
    connect(DeleteRowBtn, &QPushButton::clicked, this, [this] {
        if (PointTable->currentRow() >= 0)
            PointTable->removeRow(PointTable->currentRow());
        Refit();
    });
    connect(PointTable, &QTableWidget::itemChanged, this, [this] { Refit(); });
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    Refit();
}

void TPeakCalibrationWindow::SetPeaks(const std::vector<TPeak> &peaks)
{
    peaks_ = peaks;
    FromPeaksBtn->setEnabled(std::any_of(peaks.begin(), peaks.end(), [](const TPeak &p) { return !p.Nuclide.isEmpty(); }));
}

void TPeakCalibrationWindow::AddPeakRows()
{
    for (const TPeak &p : peaks_)
        if (!p.Nuclide.isEmpty())
            AddRow(number(p.Channel, 2), QString::number(p.LineKeV, 'g', 10));
}

void TPeakCalibrationWindow::AddRow(const QString &channel, const QString &energy)
{
    {
        const QSignalBlocker block(PointTable);
        const int row = PointTable->rowCount();
        PointTable->insertRow(row);
        PointTable->setItem(row, 0, new QTableWidgetItem(channel));
        PointTable->setItem(row, 1, new QTableWidgetItem(energy));
        PointTable->setItem(row, 2, readOnly({}));
    }
    Refit();
}

void TPeakCalibrationWindow::Refit()
{
    if (refitting_)
        return;
    refitting_ = true;
    std::vector<TCalibrationPoint> points;
    std::vector<int> rows;
    for (int r = 0; r < PointTable->rowCount(); ++r) {
        const std::optional<double> channel = typedNumber(PointTable->item(r, 0));
        const std::optional<double> energy = typedNumber(PointTable->item(r, 1));
        if (channel && energy) {
            points.push_back({*channel, *energy});
            rows.push_back(r);
        }
    }
    fit_ = FitCalibration(points);
    const QSignalBlocker block(PointTable);
    for (int r = 0; r < PointTable->rowCount(); ++r)
        PointTable->setItem(r, 2, readOnly({}));
    if (fit_.Valid) {
        for (size_t k = 0; k < rows.size(); ++k)
            PointTable->item(rows[k], 2)->setText(number(fit_.Residuals[k], 2));
        LineLabel->setText(u8("E = %1 · канал %2 %3 кэВ;  СКО отклонений %4 кэВ (точек: %5)")
                               .arg(QString::number(fit_.CoefA, 'g', 8), fit_.CoefB < 0 ? u8("−") : u8("+"),
                                    QString::number(std::abs(fit_.CoefB), 'g', 8), number(fit_.RmsResidual, 3))
                               .arg(points.size()));
    } else {
        LineLabel->setText(u8("Нужны хотя бы две точки на разных каналах"));
    }
    QuadraticLabel->setText(fit_.QuadraticValid
                                ? u8("Для сведения: E = %1 + %2 · канал + %3 · канал², СКО %4 кэВ "
                                     "(в файл спектра записываются только два коэффициента)")
                                      .arg(QString::number(fit_.Q0, 'g', 6), QString::number(fit_.Q1, 'g', 6),
                                           QString::number(fit_.Q2, 'g', 4), number(fit_.QuadraticRms, 3))
                                : QString());
    OKBtn->setEnabled(fit_.Valid);
    refitting_ = false;
}
