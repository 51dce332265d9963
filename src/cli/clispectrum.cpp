#include "cli/clispectrum.h"

#include "analysis/peaksearch.h"
#include "cli/cliarguments.h"
#include "cli/cliconsole.h"
#include "cli/clicsv.h"
#include "cli/kvarnctl.h"
#include "instrument/spectrumformats.h"

#include <QFileInfo>

#include <vector>

namespace {

bool readSpectrum(TCliConsole &console, const QString &fileName, TSpectrumFile &file)
{
    if (const QString problem = CliInputProblem(fileName); !problem.isEmpty()) {
        console.Error(problem);
        return false;
    }
    QString error;
    if (!ReadSpectrumFile(fileName, file, &error)) {
        console.Error(QStringLiteral("%1 cannot be read as a spectrum file: %2").arg(fileName, error));
        return false;
    }
    return true;
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

int CliConvertSpectrum(TCliConsole &console, const TCliRequest &request)
{
    TSpectrumFile file;
    if (!readSpectrum(console, request.Input, file))
        return kCliUsage;
    const std::optional<TSpectrumFormat> format =
        request.Output == u"-" ? TSpectrumFormat::Csv : SpectrumFormatOf(request.Output);
    if (!format)
        return kCliUsage; // the arguments were checked: not reached
    if (file.Background && format != TSpectrumFormat::N42)
        console.Error(QStringLiteral("the background spectrum of %1 is left out: %2 holds one spectrum")
                          .arg(request.Input, request.Output));
    // CSV as "spectrum --csv" writes it, with the energies once there is a
    // calibration to give them.
    const bool calibrated = file.Main.CoefA != 1 || file.Main.CoefB != 0;
    const QByteArray bytes = format == TSpectrumFormat::Csv ? SpectrumCsvImage(file.Main, calibrated)
                                                            : SpectrumFileImage(file, *format);
    QString error;
    if (!WriteCliOutput(console, request.Output, bytes, &error)) {
        console.Error(error);
        return kCliUsage;
    }
    return kCliOk;
}

int CliPeaks(TCliConsole &console, const TCliRequest &request)
{
    TSpectrumFile file;
    if (!readSpectrum(console, request.Input, file))
        return kCliUsage;
    std::vector<double> background;
    if (!request.BackgroundFile.isEmpty()) {
        TSpectrumFile other;
        if (!readSpectrum(console, request.BackgroundFile, other))
            return kCliUsage;
        background = SpectrumCountsOf(other.Main);
    }
    TPeakSearchOptions options;
    options.Threshold = request.Threshold;
    const std::vector<TPeak> peaks = FindNetPeaks(SpectrumCountsOf(file.Main), background, double(file.Main.CoefA),
                                                  double(file.Main.CoefB), options);

    QByteArray out;
    if (request.PeaksCsv) {
        out = "channel,energy_kev,fwhm_channels,net_area,net_area_sigma,continuum,reduced_chi2,nuclide\n";
        for (const TPeak &p : peaks)
            out += QStringList{fixed(p.Channel, 3), fixed(p.EnergyKeV, 3), fixed(p.FwhmChannels, 3), fixed(p.NetArea, 2),
                               fixed(p.NetAreaSigma, 2), fixed(p.Continuum, 2), fixed(p.ReducedChi2, 3), p.Nuclide}
                       .join(u',')
                       .toUtf8() +
                   '\n';
    } else {
        // The table in the terminal's encoding, as every result of the tool.
        QString table = QStringLiteral("%1 %2 %3 %4 %5 %6  %7\n")
                            .arg(u"#", 3)
                            .arg(u"channel", 9)
                            .arg(u"keV", 9)
                            .arg(u"FWHM", 7)
                            .arg(u"net area ± sigma", 22)
                            .arg(u"region", 10)
                            .arg(u"nuclide");
        int number = 0;
        for (const TPeak &p : peaks)
            table += QStringLiteral("%1 %2 %3 %4 %5 %6  %7\n")
                         .arg(++number, 3)
                         .arg(fixed(p.Channel, 2), 9)
                         .arg(fixed(p.EnergyKeV, 1), 9)
                         .arg(fixed(p.FwhmChannels, 2), 7)
                         .arg(fixed(p.NetArea, 0) + QStringLiteral(" ± ") + fixed(p.NetAreaSigma, 0), 22)
                         .arg(QStringLiteral("%1-%2").arg(p.RegionFirst).arg(p.RegionLast), 10)
                         .arg(p.Nuclide.isEmpty() ? QStringLiteral("-") : p.Nuclide);
        out = table.toLocal8Bit();
    }
    console.OutBytes(out);
    return kCliOk;
}
