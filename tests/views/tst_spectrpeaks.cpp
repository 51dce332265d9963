// The spectrum view's peak items, offscreen: the window "Пики" and its rows
// that move the markers, the triangles over the centroids, and the
// calibration by peaks through its own table with a scripted operator.

#include "analysis/syntheticspectrum.h"
#include "support/scriptedprompt.h"
#include "views/spectrview.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

// Cs-137, K-40 and Bi-214 at 2.5 keV per channel from 10 keV, a little off
// that calibration (the installation's scale has drifted), so that the peaks
// calibrate it back.
TRadiationSpectr drifted()
{
    TSyntheticSpectrum s;
    for (double keV : {661.657, 1460.82, 1764.494})
        s.Peaks.push_back({(keV - 10) / 2.5, 3.0, 30000});
    const std::vector<double> counts = s.Counted(7);
    TRadiationSpectr spectrum;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        spectrum.SetCount(c, qint32(counts[size_t(c)]));
    spectrum.CoefA = 2.49L;
    spectrum.CoefB = 12;
    return spectrum;
}

int peakPixels(const TSpectrView &view)
{
    const QImage image = view.SpectrBox->Image().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == kSpectrPeakColor;
    return n;
}

} // namespace

class TestSpectrPeaks : public QObject {
    Q_OBJECT
private slots:
    void peaksFoundShownAndChosen();
    void calibratedByPeaks();
};

void TestSpectrPeaks::peaksFoundShownAndChosen()
{
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    view.resize(1100, 400);
    view.show();
    const int before = view.PopupMenu->actions().size();
    view.EnablePeakItems();
    view.EnablePeakItems(); // once only
    QStringList tail;
    for (QAction *a : view.PopupMenu->actions().mid(before))
        tail << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(tail, (QStringList{"-", u8("Найти пики"), u8("Показать пики"), u8("Калибровка по пикам")}));
    QVERIFY(view.ShowPeaksItem->isCheckable() && !view.ShowPeaksItem->isChecked());

    view.ShowSpectrum(drifted());
    QCOMPARE(peakPixels(view), 0);
    view.FindPeaksItem->trigger();
    QVERIFY(view.PeaksWindow->isVisible());
    QTableWidget &table = *view.PeaksWindow->PeakTable;
    QCOMPARE(table.rowCount(), int(view.Peaks.size()));
    QStringList nuclides;
    for (int r = 0; r < table.rowCount(); ++r)
        if (!table.item(r, 5)->text().isEmpty())
            nuclides << table.item(r, 5)->text();
    QCOMPARE(nuclides, (QStringList{"Cs-137", "K-40", "Bi-214"}));
    // A row puts the markers on its peak's region.
    table.setCurrentCell(table.rowCount() - 1, 0);
    QCOMPARE(view.MarkerLow, view.Peaks.back().RegionFirst);
    QCOMPARE(view.MarkerHigh, view.Peaks.back().RegionLast);

    // Triangles only while "Показать пики" is on; one for each peak on the plot.
    view.ShowPeaksItem->setChecked(true);
    const int shown = peakPixels(view);
    QVERIFY(shown >= int(view.Peaks.size()) * 10);
    view.ShowSpectrum(TRadiationSpectr()); // a spectrum without peaks takes them away
    QVERIFY(view.Peaks.empty());
    QCOMPARE(peakPixels(view), 0);
    view.ShowPeaksItem->setChecked(false);
    view.ShowSpectrum(drifted());
    QCOMPARE(peakPixels(view), 0);
}

void TestSpectrPeaks::calibratedByPeaks()
{
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    view.EnablePeakItems();
    view.ShowSpectrum(drifted());

    // Cancelled: nothing changes.
    prompt.ExpectExec([](QDialog &dialog) {
        static_cast<TPeakCalibrationWindow &>(dialog).AddPeakRows();
        return int(QDialog::Rejected);
    });
    view.PeakCalibrationItem->trigger();
    QCOMPARE(view.ViewSpectrum()->CoefA, 2.49L);

    prompt.ExpectExec([](QDialog &dialog) {
        auto &window = static_cast<TPeakCalibrationWindow &>(dialog);
        QTableWidget &points = *window.PointTable;
        while (points.rowCount())
            points.removeRow(0);
        window.AddRow(QStringLiteral("10"), QStringLiteral("35"));
        if (window.OKBtn->isEnabled())
            return int(QDialog::Rejected); // one point gives no line
        points.item(0, 1)->setText(QStringLiteral("3,5e1")); // a typed comma counts as the point
        window.FromPeaksBtn->click();
        if (points.rowCount() != 4 || !window.OKBtn->isEnabled() || !window.QuadraticLabel->text().contains(u8("сведения")))
            return int(QDialog::Rejected);
        // The typed point lies on the line; so do the peaks, within their centroids' error.
        for (int r = 0; r < 4; ++r)
            if (std::abs(points.item(r, 2)->text().toDouble()) > 1.5)
                return int(QDialog::Rejected);
        window.OKBtn->click();
        return window.result();
    });
    view.PeakCalibrationItem->trigger();
    QCOMPARE(prompt.PendingAnswers(), 0);
    QVERIFY2(std::abs(double(view.ViewSpectrum()->CoefA) - 2.5) < 0.002, qPrintable(QString::number(double(view.ViewSpectrum()->CoefA))));
    QVERIFY(std::abs(double(view.ViewSpectrum()->CoefB) - 10) < 1);
    // The peaks' energies follow the new line.
    QVERIFY(std::abs(view.Peaks.front().EnergyKeV - 661.657) < 2);
}

QTEST_MAIN(TestSpectrPeaks)
#include "tst_spectrpeaks.moc"
