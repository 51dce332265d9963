#pragma once
// The view of one gamma spectrum on the page "Спектр": the plot with
// vertical zoom, horizontal scrolling and channels per pixel, the channel
// and energy under the mouse, two markers with the sum of the counts between
// them, and a two-point energy calibration. On request the plot goes on a
// logarithmic scale, and the main view draws the background view's spectrum
// beside its own or takes it off.
//
// The view shows its own copy of a spectrum: calibrating changes only that
// copy, which is what the main window saves. Its messages and dialogs go
// through the operator prompt it is given.

#include "instrument/radiationspectr.h"
#include "views/spectrplot.h"
#include "views/spectrpeaks.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class OperatorPrompt;
class QAction;
class QLabel;
class QMenu;
class QScrollBar;
class QSlider;
class QTableView;
class QPushButton;
class TEnergyCalibrationForm;

// The plot's surface: it shows the picture the view draws into its pixmap
// and tells the view where the mouse is.
class TSpectrBox : public QWidget {
    Q_OBJECT
public:
    explicit TSpectrBox(QWidget *parent = nullptr);

    QPixmap &Image() { return image_; }
    const QPixmap &Image() const { return image_; }

signals:
    void MouseMoved(int x);
    // The context menu is asked for at a point on the screen.
    void MenuRequested(const QPoint &globalPos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QPixmap image_;
};

// The counts of a range of channels, one line per channel, made on demand:
// a range may reach far beyond the spectrum's 1024 channels.
class TSpectrAreaModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetRange(const TRadiationSpectr *spectrum, int low, int high);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const TRadiationSpectr *spectrum_ = nullptr;
    int low_ = 0;
    int rows_ = 0;
};

// The counts of the marked channels, all in one scrollable window, before
// the area's total is shown.
class TSpectrAreaWindow : public QDialog {
    Q_OBJECT
public:
    explicit TSpectrAreaWindow(QWidget *parent = nullptr);

    void SetRange(const TRadiationSpectr *spectrum, int low, int high);
    // The area less the background's between the same markers, shown under
    // the counts while a background is in use; hidden without a value.
    void SetNetArea(std::optional<qint64> netArea);

    TSpectrAreaModel *CountsModel;
    QTableView *CountsView;
    QLabel *NetArea;
    QPushButton *OKBtn;
};

class TSpectrView : public QWidget {
    Q_OBJECT
public:
    TSpectrView(OperatorPrompt &prompt, QWidget *parent = nullptr);
    ~TSpectrView() override;

    // Takes a copy of the counts and, bit for bit, of both coefficients;
    // clears the markers and redraws. The caller keeps its spectrum.
    void ShowSpectrum(const TRadiationSpectr &spectrum);
    // The spectrum shown (what the main window saves).
    const TRadiationSpectr *ViewSpectrum() const { return viewSpectrum_.get(); }

    // Draws the plot anew into the plot's pixmap and updates the readout.
    void Repaint();
    // The plot's position, zoom and markers as they are now.
    TSpectrPlotFrame PlotFrame() const;

    // The view whose spectrum is this one's background (not owned; null for
    // none). Only a view that has one offers to show and subtract it; it
    // redraws whenever the background view is given a new spectrum.
    void SetBackgroundView(TSpectrView *background);
    // The background spectrum the plot and the area use now: null unless
    // it is shown or subtracted.
    const TRadiationSpectr *BackgroundInUse() const;

    // Appends the peak items to the context menu (once); without this call
    // the view has none of them.
    void EnablePeakItems();

    TSpectrBox *SpectrBox;
    QScrollBar *VSpectrScrollBar;
    QScrollBar *HSpectrScrollBar;
    QLabel *Channel;
    QLabel *Energy;
    QSlider *ScaleXTB;
    QLabel *LChannel;
    QLabel *LEnergy;
    QLabel *LScaleXTB;
    QMenu *PopupMenu;
    TEnergyCalibrationForm *EnergyCalibrationForm;
    TSpectrAreaWindow *AreaWindow;
    // Check items after the calibration, marker and area items, all off at
    // start; the two background items exist only once a background view is
    // set.
    QAction *LogScaleItem = nullptr;
    QAction *ShowBackgroundItem = nullptr;
    QAction *SubtractBackgroundItem = nullptr;
    // The peak items, after those once enabled: "Найти пики" opens the window "Пики",
    // "Показать пики" (off at start) draws triangles over the centroids, and
    // "Калибровка по пикам" fits a line through many points.
    QAction *FindPeaksItem = nullptr;
    QAction *ShowPeaksItem = nullptr;
    QAction *PeakCalibrationItem = nullptr;
    TPeaksWindow *PeaksWindow = nullptr;
    TPeakCalibrationWindow *PeakCalibrationWindow = nullptr;
    // The peaks last found in the spectrum shown (less the background while
    // it is subtracted).
    std::vector<TPeak> Peaks;

    qint32 MouseX = 0;
    qint32 CursorChannel = 0;
    qint32 CursorEnergy = 0;
    qint32 CalChannel1 = 0;
    qint32 CalEnergy1 = 0;
    qint32 CalChannel2 = 0;
    qint32 CalEnergy2 = 0;
    qint32 MarkerLow = 0;
    qint32 MarkerHigh = 0;
    qint32 Marker1 = 0;
    qint32 Marker2 = 0;

public slots:
    void SpectrBoxMouseMove(int x);
    void OnScrollScrollBar();
    void OnScaleChange();
    // The context menu's items: calibration, the markers, the area.
    void OnPopupMenu1Click();
    void OnPopupMenu1ClickSetMarker1();
    void OnPopupMenu1ClickSetMarker2();
    void OnPopupMenu1ClickClearMarkers();
    void OnPopupMenu1ClickCalculate();
    void OnFindPeaks();
    void OnShowPeaks(bool show);
    void OnPeakCalibration();

signals:
    // A new spectrum is shown.
    void SpectrumChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void ArrangeControls();
    void UpdateReadout();
    void SortMarkers();
    void OpenPopupMenu(const QPoint &globalPos);
    void SearchPeaks();
    void DrawPeakMarks();

    OperatorPrompt &prompt_;
    std::unique_ptr<TRadiationSpectr> viewSpectrum_;
    // The view itself, not its spectrum: ShowSpectrum replaces the spectrum
    // a pointer would have to follow.
    QPointer<TSpectrView> backgroundView_;
};
