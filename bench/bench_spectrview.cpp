// Times a redraw of the spectrum plot at the largest size a 1920 x 1080
// screen allows (the view filling the whole screen), for the scales and
// zooms an operator uses. Target: 2 ms or less per redraw.
//
//   bench_spectrview [redraws]

#include "ui/operatorprompt.h"
#include "views/spectrview.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <vector>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int redraws = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;

    // A falling continuum with a few lines, as the installation sees it.
    TRadiationSpectr spectrum;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c) {
        double n = 40000.0 * std::exp(-c / 180.0) + 50;
        for (const double line : {81.0, 220.0, 662.0 / 3})
            n += 20000.0 * std::exp(-(c - line) * (c - line) / 18.0);
        spectrum.SetCount(c, qint32(n));
    }

    WidgetPrompt prompt;
    TSpectrView view(prompt);
    view.resize(1920, 1080);
    view.show();
    view.ShowSpectrum(spectrum);
    view.Marker1 = 200;
    view.Marker2 = 260;
    view.MarkerLow = 200;
    view.MarkerHigh = 260;
    std::printf("plot %d x %d pixels, %d redraws each\n", view.SpectrBox->width(), view.SpectrBox->height(), redraws);

    int worst = 0;
    // The last case on the log scale, whose top is the largest column of the redraw.
    for (const auto &[scale, zoom, log] : {std::tuple(1, 1, false), std::tuple(1, 5, false), std::tuple(4, 1, false),
                                           std::tuple(16, 101, false), std::tuple(1, 5, true)}) {
        view.LogScaleItem->setChecked(log);
        view.ScaleXTB->setValue(scale);
        view.VSpectrScrollBar->setValue(view.VSpectrScrollBar->maximum() - zoom + 1);
        std::vector<qint64> times;
        times.reserve(redraws);
        QElapsedTimer timer;
        for (int i = 0; i < redraws; ++i) {
            timer.start();
            view.Repaint();
            times.push_back(timer.nsecsElapsed());
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2] / 1e6;
        const double p99 = times[times.size() * 99 / 100] / 1e6;
        std::printf("scale %2d zoom %3d%s: median %.3f ms, 99th percentile %.3f ms\n", scale, zoom,
                    log ? " log" : "", median, p99);
        worst = std::max(worst, int(median * 1000));
    }
    std::printf("worst median %.3f ms (target 2 ms): %s\n", worst / 1000.0, worst <= 2000 ? "met" : "MISSED");
    return 0;
}
