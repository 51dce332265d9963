#pragma once
// The spectrum view's peaks: the window "Пики" with the table of the peaks
// found, the triangles over their centroids on the plot, and the window
// "Калибровка по пикам", a straight-line calibration through many (channel,
// energy) points. The search, the fits and the calibration line are the
// analysis's; these windows show and edit what it gives.

#include "analysis/calibrationfit.h"
#include "analysis/peaksearch.h"
#include "views/spectrplot.h"

#include <QDialog>
#include <vector>

class QLabel;
class QPixmap;
class QPushButton;
class QTableWidget;
class TRadiationSpectr;

// The peaks of a spectrum, of the spectrum less a background when one is
// given (counted for the same time), with energies through the spectrum's
// calibration.
std::vector<TPeak> FindSpectrumPeaks(const TRadiationSpectr &spectrum, const TRadiationSpectr *background);

// The triangles' colour.
inline const QColor kSpectrPeakColor(160, 0, 160);
// Where the triangle of a peak at `channel` points to: the top of the plot
// line in the pixel column that draws the channel; none when that column is
// not on the plot.
std::optional<QPoint> SpectrPeakMarkPoint(const QList<TSpectrPlotPoint> &plotPoints, double channel,
                                          const TSpectrPlotFrame &frame);
// Draws a small triangle, point down, a few pixels above each peak's point.
void DrawSpectrPeakMarks(QPixmap &pixmap, const TRadiationSpectr &spectrum, const std::vector<TPeak> &peaks,
                         const TSpectrPlotFrame &frame);

// The peaks as a table: the window shows it, a report prints it.
QStringList PeakTableHeadings();
QList<QStringList> PeakTableRows(const std::vector<TPeak> &peaks);

// "Пики": one row per peak; choosing a row asks the view to put its markers
// on the peak's fitted region. Modeless: it stays open beside the plot.
class TPeaksWindow : public QDialog {
    Q_OBJECT
public:
    explicit TPeaksWindow(QWidget *parent = nullptr);

    void SetPeaks(const std::vector<TPeak> &peaks);

    QTableWidget *PeakTable;
    QLabel *Summary;

signals:
    void RegionChosen(int first, int last);

private:
    std::vector<TPeak> peaks_;
};

// "Калибровка по пикам": rows of channel and energy, filled from the peaks
// found (those named by a nuclide, with the line's energy) or typed. Each
// change refits the line and shows every row's residual, the RMS residual
// and, as advice only, the quadratic through the same points. OK is offered
// only while the line exists.
class TPeakCalibrationWindow : public QDialog {
    Q_OBJECT
public:
    explicit TPeakCalibrationWindow(QWidget *parent = nullptr);

    // The peaks "Из найденных пиков" takes rows from.
    void SetPeaks(const std::vector<TPeak> &peaks);
    // Rows from the named peaks, after the rows already there.
    void AddPeakRows();
    void AddRow(const QString &channel = {}, const QString &energy = {});

    // The line through the rows that hold two numbers.
    const TCalibrationFit &Fit() const { return fit_; }

    QTableWidget *PointTable;
    QPushButton *FromPeaksBtn;
    QPushButton *AddRowBtn;
    QPushButton *DeleteRowBtn;
    QLabel *LineLabel;
    QLabel *QuadraticLabel;
    QPushButton *OKBtn;
    QPushButton *CancelBtn;

private:
    void Refit();

    std::vector<TPeak> peaks_;
    TCalibrationFit fit_;
    bool refitting_ = false;
};
