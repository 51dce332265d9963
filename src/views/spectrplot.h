#pragma once
// The arithmetic of the spectrum plot, apart from any widget: which channels
// a pixel column sums, how high it is drawn, in which colour, how far the plot
// scrolls, and what the readout under the mouse says. The view draws what
// these give; the tests check them against their own computation.

#include <QColor>
#include <QList>
#include <QPoint>
#include <QtGlobal>

class QPixmap;
class TRadiationSpectr;

// The marked channels are drawn red, all others blue.
inline const QColor kSpectrMarkedColor(255, 0, 0);
inline const QColor kSpectrPlainColor(0, 0, 255);
// The background spectrum drawn beside the measured one.
inline const QColor kSpectrBackgroundColor(0, 150, 0);

// What decides the picture besides the counts.
struct TSpectrPlotFrame {
    int Width = 0;      // plot size in pixels
    int Height = 0;
    int Scale = 1;      // channels per pixel column, 1 to 16
    int Position = 0;   // first pixel column shown (horizontal scroll position)
    int Zoom = 1;       // vertical zoom 1 to 101: 1 shows the highest channel 5 plot heights high
    int MarkerLow = 0;  // columns whose first channel lies in [MarkerLow, MarkerHigh) are red
    int MarkerHigh = 0;
    // Heights as log10(1 + sum) instead of the sum. The plot's top row
    // stays at the largest column of the main line and the zoom chooses how
    // many decades below it are shown (SpectrLogDecades): all of them down
    // to a count of 0 at zoom 1, one decade at the last zoom. A column below
    // the decades shown lies on the plot's bottom line.
    bool LogScale = false;
    // A background spectrum (not owned), drawn on the main line's scale when
    // ShowBackground is set, and taken off the main line column by column
    // when SubtractBackground is set (a column below zero is drawn at zero).
    const TRadiationSpectr *Background = nullptr;
    bool ShowBackground = false;
    bool SubtractBackground = false;
};

// One point of the polyline, and the colour of the line that ends there.
struct TSpectrPlotPoint {
    QPoint Point;
    bool Marked = false;
};

// Pixel columns that the whole spectrum needs at this scale: 1024 div s.
int SpectrColumnsNeeded(int scale);
// The horizontal scroll bar's maximum: the columns that do not fit.
int SpectrScrollMaximum(int scale, int plotWidth);
// The largest count of channels 0..1023, but at least 32, so that a weak
// spectrum is not blown up to full height.
qint32 SpectrPeak(const TRadiationSpectr &spectrum);
// The sum drawn in the column whose first channel is `first`: the channels
// first + 1 ... first + scale, leaving out 1023 and above (channel 1023 is
// never drawn; a column's own first channel belongs to the column before).
qint64 SpectrColumnSum(const TRadiationSpectr &spectrum, int first, int scale);

// The polyline: it starts at (1, Height - 1) and has one point per column
// d = 0 ... min(columns needed, Width) - 2 at (d, Height - 1 - h), h the
// column's sum divided by Zoom * 0.2 * peak / Height and truncated. Heights
// far outside the plot are held at a distance the painter can clip.
QList<TSpectrPlotPoint> SpectrPlotPoints(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame);

// The decades of log10(1 + sum) shown below the top at a zoom of 1 to 101:
// from `top` itself at zoom 1 down in even steps to one decade (or `top`,
// if that is less) at zoom 101.
double SpectrLogDecades(double top, int zoom);

// The peak the main line is measured against: SpectrPeak, or with the
// background subtracted the largest difference of a channel, at least 32.
// On the logarithmic scale it is the largest column sum of the main line
// over the whole spectrum at the frame's scale, at least 32.
qint64 SpectrFramePeak(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame);
// The height of a column sum in whole pixels, on the frame's scale (linear
// or logarithmic) against that peak; held within a distance the painter can
// clip. A negative sum on the logarithmic scale is drawn at zero.
qint64 SpectrColumnHeight(qint64 sum, qint64 peak, const TSpectrPlotFrame &frame);
// The background's polyline on the main line's scale, all points unmarked;
// empty unless the frame shows a background.
QList<TSpectrPlotPoint> SpectrBackgroundPoints(const TRadiationSpectr &spectrum, const TSpectrPlotFrame &frame);

// Fills the pixmap with the background and, when there is a spectrum, draws
// the polyline without antialiasing, one pixel wide, each line in the colour
// of the column it ends in. A point's own pixel takes the colour of the line
// that leaves it (the last point keeps its own). A background spectrum the
// frame shows goes under it, in its own colour. The pixmap keeps its size.
void DrawSpectrPlot(QPixmap &pixmap, const QColor &background, const TRadiationSpectr *spectrum,
                    const TSpectrPlotFrame &frame);

// The channel under the mouse: (scroll position + mouse x) * scale, held to
// the spectrum's channels (right of the last one reads the last one).
int SpectrCursorChannel(int position, int mouseX, int scale);
// The energy of a channel in whole keV: CoefA * channel + CoefB rounded to
// the nearest, ties to even; negative energies (and a calibration that gives
// no number) read 0, energies beyond the integer range read its largest value.
qint32 SpectrCursorEnergy(int channel, long double coefA, long double coefB);
