#pragma once
// Spectra in the files other spectrum software opens, beside the program's
// own *.spc:
//   *.n42  ANSI N42.42-2012 XML (namespace http://physics.nist.gov/N42/2011/N42):
//          the main spectrum and, when there is one, the background spectrum,
//          each a RadMeasurement of class Foreground or Background with its own
//          EnergyCalibration (coefficients keV = a0 + a1 * channel, channel 0
//          first);
//   *.spe  IAEA SPE text: $SPEC_ID, $DATA 0 1023 and the counts, $ENER_FIT and
//          $MCA_CAL with the two coefficients;
//   *.csv  "channel,energy_kev,count" with 1024 rows (read also without the
//          energy column, as kvarnctl writes it).
// The .spc holds no live or real time and no date, so none is written: the
// N42 measurement has no StartDateTime or RealTimeDuration and the SPE no
// $MEAS_TIM or $DATE_MEA. A .spc whose header is not the one the program
// writes for its coefficients keeps that header in a remark (N42) or the
// $SPEC_REM section (SPE), so converting it back gives the same file.
//
// Reading is strict: exactly 1024 channels of whole counts that fit the
// .spc's 32-bit integers, a calibration of at most a straight line, and a
// reason for every refusal.

#include "instrument/radiationspectr.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

enum class TSpectrumFormat { Spc, N42, Spe, Csv };

// By the file name's suffix (any case); none for another suffix.
std::optional<TSpectrumFormat> SpectrumFormatOf(const QString &fileName);

// What one file holds.
struct TSpectrumFile {
    TRadiationSpectr Main;
    std::optional<TRadiationSpectr> Background;
    // The 512-byte .spc header each came with, when it came from a .spc (or
    // the one a remark kept); empty otherwise.
    QByteArray MainHeader;
    QByteArray BackgroundHeader;
};

// What kind of fault a refused file has, for a window to say in its own
// words: not a readable file, not laid out as its format, not 1024 channels,
// a count that is no whole number in range, a calibration that is no
// straight line.
enum class TSpectrumFileProblem { None, File, Layout, ChannelCount, Counts, Calibration };

// The file's bytes in each format. Formats of one spectrum take the main one.
QByteArray SpectrumFileImage(const TSpectrumFile &file, TSpectrumFormat format);
// False with the reason when the bytes are not a spectrum of that format.
bool ParseSpectrumFile(const QByteArray &bytes, TSpectrumFormat format, TSpectrumFile &file, QString *error,
                       TSpectrumFileProblem *kind = nullptr);

// The same on files, by suffix. Writing is all or nothing.
bool ReadSpectrumFile(const QString &fileName, TSpectrumFile &file, QString *error,
                      TSpectrumFileProblem *kind = nullptr);
bool WriteSpectrumFile(const QString &fileName, const TSpectrumFile &file, QString *error);

// The 1024 counts as numbers, channel 0 first, for the analyses.
std::vector<double> SpectrumCountsOf(const TRadiationSpectr &spectrum);

// "channel,count" rows, or "channel,energy_kev,count" with the energies.
QByteArray SpectrumCsvImage(const TRadiationSpectr &spectrum, bool withEnergy);
