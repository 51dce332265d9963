#include "views/spectrview.h"

#include "ui/operatorprompt.h"
#include "ui/u8.h"
#include "views/energycalibrationform.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace {
constexpr const char *kAreaFailed = "Площадь области между маркерами вычислить не удалось";
constexpr const char *kAreaTotal = "Площадь области между маркерами = ";
constexpr const char *kNetArea = "Площадь за вычетом фона = ";

constexpr int kZoomMaximum = 100;
constexpr int kReadoutHeight = 21;
constexpr int kReadoutWidth = 60;

QLabel *readoutPanel(QWidget *parent, const char *name)
{
    auto *panel = new QLabel(QStringLiteral("0"), parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(128, 128, 128));
    palette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    panel->setPalette(palette);
    QFont font = panel->font();
    font.setBold(true);
    panel->setFont(font);
    return panel;
}

QLabel *caption(QWidget *parent, const char *name, const char *text)
{
    auto *label = new QLabel(u8(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->adjustSize();
    return label;
}

int rightOf(const QWidget *w)
{
    return w->x() + w->width();
}
} // namespace

// --- the plot's surface --------------------------------------------------------

TSpectrBox::TSpectrBox(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    // The pixmap covers every pixel: nothing to erase first, so nothing flickers.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSpectrBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.drawPixmap(event->rect(), image_, event->rect());
}

void TSpectrBox::mouseMoveEvent(QMouseEvent *event)
{
    emit MouseMoved(event->position().toPoint().x());
    QWidget::mouseMoveEvent(event);
}

void TSpectrBox::contextMenuEvent(QContextMenuEvent *event)
{
    // The menu acts on the channel under the mouse. Opened by the mouse, that
    // is where it was clicked; from the keyboard, where the mouse last moved.
    if (event->reason() == QContextMenuEvent::Mouse)
        emit MouseMoved(event->pos().x());
    emit MenuRequested(event->globalPos());
    event->accept();
}

// --- the counts between the markers --------------------------------------------

void TSpectrAreaModel::SetRange(const TRadiationSpectr *spectrum, int low, int high)
{
    beginResetModel();
    spectrum_ = spectrum;
    low_ = low;
    // A table holds at most INT_MAX rows; no range of channels the view can
    // reach comes near that.
    rows_ = int(std::clamp<qint64>(qint64(high) - low + 1, 0, std::numeric_limits<int>::max()));
    endResetModel();
}

int TSpectrAreaModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int TSpectrAreaModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant TSpectrAreaModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    const int channel = low_ + index.row();
    if (index.column() == 0)
        return QString::number(channel);
    return QString::number(spectrum_ ? spectrum_->GetCount(channel) : 0);
}

QVariant TSpectrAreaModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section == 0 ? u8("Канал") : u8("Отсчеты");
}

TSpectrAreaWindow::TSpectrAreaWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SpectrAreaWindow"));
    setWindowTitle(u8("Отсчеты каналов между маркерами"));
    CountsModel = new TSpectrAreaModel(this);
    CountsView = new QTableView(this);
    CountsView->setObjectName(QStringLiteral("CountsView"));
    CountsView->setModel(CountsModel);
    CountsView->verticalHeader()->hide();
    // One line per channel, as close as a list.
    CountsView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    CountsView->verticalHeader()->setDefaultSectionSize(CountsView->fontMetrics().height() + 4);
    CountsView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    CountsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    CountsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    NetArea = new QLabel(this);
    NetArea->setObjectName(QStringLiteral("NetArea"));
    NetArea->setTextFormat(Qt::PlainText);
    NetArea->hide();
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(CountsView);
    layout->addWidget(NetArea);
    layout->addWidget(OKBtn, 0, Qt::AlignHCenter);
    resize(260, 360);
}

void TSpectrAreaWindow::SetRange(const TRadiationSpectr *spectrum, int low, int high)
{
    CountsModel->SetRange(spectrum, low, high);
    CountsView->scrollToTop();
}

void TSpectrAreaWindow::SetNetArea(std::optional<qint64> netArea)
{
    NetArea->setText(netArea ? u8(kNetArea) + QString::number(*netArea) : QString());
    NetArea->setVisible(netArea.has_value());
}

// --- the view --------------------------------------------------------------------

TSpectrView::TSpectrView(OperatorPrompt &prompt, QWidget *parent)
    : QWidget(parent), prompt_(prompt), viewSpectrum_(std::make_unique<TRadiationSpectr>())
{
    resize(300, 250);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(u8("Калибровка по энергии"), this, &TSpectrView::OnPopupMenu1Click);
    PopupMenu->addSeparator();
    PopupMenu->addAction(u8("Установить маркер 1"), this, &TSpectrView::OnPopupMenu1ClickSetMarker1);
    PopupMenu->addAction(u8("Установить маркер 2"), this, &TSpectrView::OnPopupMenu1ClickSetMarker2);
    PopupMenu->addSeparator();
    PopupMenu->addAction(u8("Удалить маркеры"), this, &TSpectrView::OnPopupMenu1ClickClearMarkers);
    PopupMenu->addSeparator();
    PopupMenu->addAction(u8("Показать площадь выделенной области"), this, &TSpectrView::OnPopupMenu1ClickCalculate);
    PopupMenu->addSeparator();
    LogScaleItem = PopupMenu->addAction(u8("Логарифмическая шкала"));
    LogScaleItem->setCheckable(true);
    connect(LogScaleItem, &QAction::toggled, this, &TSpectrView::Repaint);

    SpectrBox = new TSpectrBox(this);
    SpectrBox->setObjectName(QStringLiteral("SpectrBox"));
    connect(SpectrBox, &TSpectrBox::MouseMoved, this, &TSpectrView::SpectrBoxMouseMove);
    connect(SpectrBox, &TSpectrBox::MenuRequested, this, &TSpectrView::OpenPopupMenu);

    VSpectrScrollBar = new QScrollBar(Qt::Vertical, this);
    VSpectrScrollBar->setObjectName(QStringLiteral("VSpectrScrollBar"));
    VSpectrScrollBar->setRange(0, kZoomMaximum);
    VSpectrScrollBar->setValue(kZoomMaximum);
    connect(VSpectrScrollBar, &QScrollBar::valueChanged, this, &TSpectrView::OnScrollScrollBar);

    HSpectrScrollBar = new QScrollBar(Qt::Horizontal, this);
    HSpectrScrollBar->setObjectName(QStringLiteral("HSpectrScrollBar"));
    HSpectrScrollBar->setRange(0, 0);
    connect(HSpectrScrollBar, &QScrollBar::valueChanged, this, &TSpectrView::OnScrollScrollBar);

    Energy = readoutPanel(this, "Energy");
    Channel = readoutPanel(this, "Channel");
    LChannel = caption(this, "LChannel", "Канал :");
    LEnergy = caption(this, "LEnergy", "Энергия :");
    LScaleXTB = caption(this, "LScaleXTB", "X - сжатие");

    ScaleXTB = new QSlider(Qt::Horizontal, this);
    ScaleXTB->setObjectName(QStringLiteral("ScaleXTB"));
    ScaleXTB->setRange(1, 16);
    ScaleXTB->setValue(1);
    ScaleXTB->setPageStep(1);
    ScaleXTB->setTickPosition(QSlider::TicksBelow);
    connect(ScaleXTB, &QSlider::valueChanged, this, &TSpectrView::OnScaleChange);

    EnergyCalibrationForm = new TEnergyCalibrationForm(this);
    AreaWindow = new TSpectrAreaWindow(this);

    ArrangeControls();
}

TSpectrView::~TSpectrView() = default;

void TSpectrView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ArrangeControls();
}

void TSpectrView::ArrangeControls()
{
    const int W = width();
    const int H = height();
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);

    VSpectrScrollBar->setGeometry(3, 3, bar, qMax(0, H - 64));
    const int plotWidth = qMax(0, W - 2 * VSpectrScrollBar->x() - bar);
    SpectrBox->setGeometry(VSpectrScrollBar->x() + bar, VSpectrScrollBar->y(), plotWidth, VSpectrScrollBar->height());
    // The pixmap takes the plot's new size.
    SpectrBox->Image() = QPixmap(qMax(1, SpectrBox->width()), qMax(1, SpectrBox->height()));
    HSpectrScrollBar->setGeometry(SpectrBox->x(), SpectrBox->y() + SpectrBox->height(), SpectrBox->width(), bar);

    // The bottom row, centred in the room below the scroll bar.
    const int Y = HSpectrScrollBar->y() + HSpectrScrollBar->height();
    const int labelHeight = LChannel->height();
    const int top = Y + (H - Y - labelHeight) / 2;
    const int labelShift = (kReadoutHeight - labelHeight) / 2;
    LChannel->move(10, top + labelShift);
    Channel->setGeometry(rightOf(LChannel) + 10, top, kReadoutWidth, kReadoutHeight);
    LEnergy->move(rightOf(Channel) + 20, top + labelShift);
    Energy->setGeometry(rightOf(LEnergy) + 10, top, kReadoutWidth, kReadoutHeight);
    LScaleXTB->move(rightOf(Energy) + 20, top + labelShift);
    const int sliderLeft = rightOf(LScaleXTB) + 10;
    ScaleXTB->setGeometry(sliderLeft, top, qMax(0, W - sliderLeft - 5), kReadoutHeight);

    Repaint();
}

TSpectrPlotFrame TSpectrView::PlotFrame() const
{
    TSpectrPlotFrame frame;
    frame.Width = SpectrBox->width();
    frame.Height = SpectrBox->height();
    frame.Scale = ScaleXTB->value();
    frame.Position = HSpectrScrollBar->value();
    frame.Zoom = VSpectrScrollBar->maximum() - VSpectrScrollBar->value() + 1;
    frame.MarkerLow = MarkerLow;
    frame.MarkerHigh = MarkerHigh;
    frame.LogScale = LogScaleItem->isChecked();
    frame.Background = BackgroundInUse();
    frame.ShowBackground = ShowBackgroundItem && ShowBackgroundItem->isChecked();
    frame.SubtractBackground = SubtractBackgroundItem && SubtractBackgroundItem->isChecked();
    return frame;
}

void TSpectrView::SetBackgroundView(TSpectrView *background)
{
    if (backgroundView_)
        disconnect(backgroundView_, &TSpectrView::SpectrumChanged, this, nullptr);
    backgroundView_ = background != this ? background : nullptr;
    if (backgroundView_) {
        connect(backgroundView_, &TSpectrView::SpectrumChanged, this, [this] {
            if (BackgroundInUse())
                Repaint();
        });
        if (!ShowBackgroundItem) {
            ShowBackgroundItem = PopupMenu->addAction(u8("Показать фоновый спектр"));
            ShowBackgroundItem->setCheckable(true);
            connect(ShowBackgroundItem, &QAction::toggled, this, &TSpectrView::Repaint);
            SubtractBackgroundItem = PopupMenu->addAction(u8("Вычесть фон"));
            SubtractBackgroundItem->setCheckable(true);
            connect(SubtractBackgroundItem, &QAction::toggled, this, &TSpectrView::Repaint);
        }
    }
    if (ShowBackgroundItem) {
        ShowBackgroundItem->setVisible(backgroundView_ != nullptr);
        SubtractBackgroundItem->setVisible(backgroundView_ != nullptr);
    }
    Repaint();
}

const TRadiationSpectr *TSpectrView::BackgroundInUse() const
{
    if (!backgroundView_ || !ShowBackgroundItem)
        return nullptr;
    if (!ShowBackgroundItem->isChecked() && !SubtractBackgroundItem->isChecked())
        return nullptr;
    return backgroundView_->ViewSpectrum();
}

void TSpectrView::Repaint()
{
    if (viewSpectrum_) {
        // A narrower scale or a wider plot may leave the position beyond the
        // new maximum; the scroll bar moves it back without another redraw.
        const QSignalBlocker block(HSpectrScrollBar);
        HSpectrScrollBar->setMaximum(SpectrScrollMaximum(ScaleXTB->value(), SpectrBox->width()));
        HSpectrScrollBar->setPageStep(qMax(1, SpectrBox->width()));
    }
    DrawSpectrPlot(SpectrBox->Image(), palette().color(QPalette::Base), viewSpectrum_.get(), PlotFrame());
    DrawPeakMarks();
    SpectrBox->update();
    UpdateReadout();
}

void TSpectrView::UpdateReadout()
{
    CursorChannel = SpectrCursorChannel(HSpectrScrollBar->value(), MouseX, ScaleXTB->value());
    CursorEnergy = viewSpectrum_ ? SpectrCursorEnergy(CursorChannel, viewSpectrum_->CoefA, viewSpectrum_->CoefB) : 0;
    Channel->setText(QString::number(CursorChannel));
    Energy->setText(QString::number(CursorEnergy));
}

void TSpectrView::ShowSpectrum(const TRadiationSpectr &spectrum)
{
    auto copy = std::make_unique<TRadiationSpectr>();
    copy->AssignCounts(&spectrum);
    copy->CoefA = spectrum.CoefA;
    copy->CoefB = spectrum.CoefB;
    viewSpectrum_ = std::move(copy);
    Marker1 = Marker2 = MarkerLow = MarkerHigh = 0;
    Repaint();
    emit SpectrumChanged();
}

void TSpectrView::SpectrBoxMouseMove(int x)
{
    MouseX = x;
    UpdateReadout();
}

void TSpectrView::OnScrollScrollBar()
{
    Repaint();
}

void TSpectrView::OnScaleChange()
{
    {
        const QSignalBlocker block(HSpectrScrollBar);
        HSpectrScrollBar->setValue(0);
    }
    Repaint();
}

void TSpectrView::OpenPopupMenu(const QPoint &globalPos)
{
    PopupMenu->popup(globalPos);
}

void TSpectrView::SortMarkers()
{
    MarkerLow = qMin(Marker1, Marker2);
    MarkerHigh = qMax(Marker1, Marker2);
}

void TSpectrView::OnPopupMenu1ClickSetMarker1()
{
    Marker1 = CursorChannel;
    SortMarkers();
    Repaint();
}

void TSpectrView::OnPopupMenu1ClickSetMarker2()
{
    Marker2 = CursorChannel;
    SortMarkers();
    Repaint();
}

void TSpectrView::OnPopupMenu1ClickClearMarkers()
{
    Marker1 = Marker2 = MarkerLow = MarkerHigh = 0;
    Repaint();
}

void TSpectrView::OnPopupMenu1ClickCalculate()
{
    if (!viewSpectrum_ || (Marker1 == 0 && Marker2 == 0)) {
        prompt_.Warning(u8(kAreaFailed));
        return;
    }
    SortMarkers();
    // Every channel's count in one window (not a box per channel: a wide
    // range would hold the operator for a thousand clicks), then the total.
    const qint64 area = viewSpectrum_->SumCounts(MarkerLow, MarkerHigh);
    AreaWindow->SetRange(viewSpectrum_.get(), MarkerLow, MarkerHigh);
    const TRadiationSpectr *background = BackgroundInUse();
    AreaWindow->SetNetArea(background ? std::optional<qint64>(area - background->SumCounts(MarkerLow, MarkerHigh))
                                      : std::nullopt);
    prompt_.Exec(*AreaWindow);
    prompt_.Notice(u8(kAreaTotal) + QString::number(area));
}

void TSpectrView::OnPopupMenu1Click()
{
    TEnergyCalibrationForm &form = *EnergyCalibrationForm;
    form.SetCurChannel(CursorChannel);
    form.SetCurEnergy(CursorEnergy);
    form.SetChannel1(CalChannel1);
    form.SetEnergy1(CalEnergy1);
    form.SetChannel2(CalChannel2);
    form.SetEnergy2(CalEnergy2);
    if (prompt_.Exec(form) != QDialog::Accepted)
        return;
    // The points are kept even when they give no calibration.
    CalChannel1 = form.Channel1;
    CalEnergy1 = form.Energy1;
    CalChannel2 = form.Channel2;
    CalEnergy2 = form.Energy2;
    if (CalChannel1 == CalChannel2 || !viewSpectrum_)
        return; // one channel gives no line: the calibration stays
    const long double a = (static_cast<long double>(CalEnergy2) - CalEnergy1) /
                          (static_cast<long double>(CalChannel2) - CalChannel1);
    viewSpectrum_->CoefA = a;
    viewSpectrum_->CoefB = CalEnergy1 - CalChannel1 * a;
    // The readout takes the new calibration at the next mouse move.
}

// --- peaks ------------------------------------------------------------------------

void TSpectrView::EnablePeakItems()
{
    if (FindPeaksItem)
        return;
    PopupMenu->addSeparator();
    FindPeaksItem = PopupMenu->addAction(u8("Найти пики"), this, &TSpectrView::OnFindPeaks);
    ShowPeaksItem = PopupMenu->addAction(u8("Показать пики"));
    ShowPeaksItem->setCheckable(true);
    connect(ShowPeaksItem, &QAction::toggled, this, &TSpectrView::OnShowPeaks);
    PeakCalibrationItem = PopupMenu->addAction(u8("Калибровка по пикам"), this, &TSpectrView::OnPeakCalibration);
    PeaksWindow = new TPeaksWindow(this);
    connect(PeaksWindow, &TPeaksWindow::RegionChosen, this, [this](int first, int last) {
        Marker1 = first;
        Marker2 = last;
        SortMarkers();
        Repaint();
    });
    PeakCalibrationWindow = new TPeakCalibrationWindow(this);
    // Peaks of a spectrum no longer shown, or found with or without the
    // background as it is no longer used, are no peaks of this one.
    auto refresh = [this] {
        if (ShowPeaksItem->isChecked() || PeaksWindow->isVisible()) {
            SearchPeaks();
            Repaint();
        } else {
            Peaks.clear();
        }
    };
    connect(this, &TSpectrView::SpectrumChanged, this, refresh);
    if (SubtractBackgroundItem)
        connect(SubtractBackgroundItem, &QAction::toggled, this, refresh);
}

void TSpectrView::SearchPeaks()
{
    const bool subtract = SubtractBackgroundItem && SubtractBackgroundItem->isChecked();
    Peaks = viewSpectrum_ ? FindSpectrumPeaks(*viewSpectrum_, subtract ? BackgroundInUse() : nullptr)
                          : std::vector<TPeak>{};
    PeaksWindow->SetPeaks(Peaks);
}

void TSpectrView::DrawPeakMarks()
{
    if (ShowPeaksItem && ShowPeaksItem->isChecked() && viewSpectrum_)
        DrawSpectrPeakMarks(SpectrBox->Image(), *viewSpectrum_, Peaks, PlotFrame());
}

void TSpectrView::OnFindPeaks()
{
    if (!FindPeaksItem)
        return; // the peak items are not enabled
    SearchPeaks();
    PeaksWindow->show();
    PeaksWindow->raise();
    Repaint();
}

void TSpectrView::OnShowPeaks(bool show)
{
    if (!FindPeaksItem)
        return;
    if (show)
        SearchPeaks();
    Repaint();
}

void TSpectrView::OnPeakCalibration()
{
    if (!FindPeaksItem || !viewSpectrum_)
        return;
    if (Peaks.empty())
        SearchPeaks();
    PeakCalibrationWindow->SetPeaks(Peaks);
    if (prompt_.Exec(*PeakCalibrationWindow) != QDialog::Accepted || !PeakCalibrationWindow->Fit().Valid)
        return;
    // The file keeps the line's two coefficients; the peaks' energies follow.
    viewSpectrum_->CoefA = PeakCalibrationWindow->Fit().CoefA;
    viewSpectrum_->CoefB = PeakCalibrationWindow->Fit().CoefB;
    SearchPeaks();
    Repaint();
}
