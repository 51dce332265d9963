#include "instrument/spectrumformats.h"

#include "base/savefile.h"
#include "base/textutils.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <limits>

namespace {

constexpr int kChannels = TRadiationSpectr::ChannelCount;
const QString kN42Namespace = QStringLiteral("http://physics.nist.gov/N42/2011/N42");
// The remark that keeps a .spc header the coefficients alone do not give back.
const QByteArray kHeaderRemark = "kvarn .spc header (base64):";

using K = TSpectrumFileProblem;

// Why a file is refused: the words for kvarnctl and the kind for a window.
struct Problem {
    QString text;
    K kind = K::None;
};

bool fail(Problem *problem, K kind, const QString &reason)
{
    if (problem)
        *problem = {reason, kind};
    return false;
}

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

// --- the .spc header ----------------------------------------------------------------------

// The remark for a header that is not the one written for the coefficients;
// empty when the coefficients give the header back by themselves.
QByteArray headerRemark(const TRadiationSpectr &spectrum, const QByteArray &header)
{
    if (header.size() != TRadiationSpectr::HeaderSize || header == spectrum.HeaderBytes())
        return {};
    QByteArray trimmed = header;
    while (trimmed.endsWith('\0'))
        trimmed.chop(1);
    return kHeaderRemark + ' ' + trimmed.toBase64();
}

// The header a remark kept, when it still fits the coefficients the file
// gives (to the digits the file writes them with); the coefficients then
// take the header's own digits. Empty otherwise.
QByteArray restoreHeader(TRadiationSpectr &spectrum, const QByteArray &remark)
{
    const qsizetype at = remark.indexOf(kHeaderRemark);
    if (at < 0)
        return {};
    QByteArray header = QByteArray::fromBase64(remark.mid(at + kHeaderRemark.size()).trimmed());
    if (header.size() > TRadiationSpectr::HeaderSize)
        return {};
    header.append(QByteArray(TRadiationSpectr::HeaderSize - header.size(), '\0'));
    TRadiationSpectr probe;
    probe.LoadFromFileImage(header + QByteArray(TRadiationSpectr::DataSize, '\0'));
    if (FloatToStrDot(probe.CoefA) != FloatToStrDot(spectrum.CoefA) ||
        FloatToStrDot(probe.CoefB) != FloatToStrDot(spectrum.CoefB))
        return {};
    spectrum.CoefA = probe.CoefA;
    spectrum.CoefB = probe.CoefB;
    return header;
}

// The .spc image: with the header it came with when that header still reads
// as the spectrum's coefficients, else the program's own.
QByteArray spcImage(const TRadiationSpectr &spectrum, const QByteArray &header)
{
    const QByteArray own = spectrum.FileImage();
    if (header.size() != TRadiationSpectr::HeaderSize)
        return own;
    const QByteArray kept = header + own.mid(TRadiationSpectr::HeaderSize);
    TRadiationSpectr probe;
    probe.LoadFromFileImage(kept);
    return probe.CoefA == spectrum.CoefA && probe.CoefB == spectrum.CoefB ? kept : own;
}

// --- numbers ------------------------------------------------------------------------------

// A count: a whole number that fits the .spc's signed 32 bits ("12" or "12.0").
bool parseCount(QByteArrayView token, qint32 &count)
{
    bool ok = false;
    const qlonglong whole = token.toLongLong(&ok);
    if (ok) {
        if (whole < std::numeric_limits<qint32>::min() || whole > std::numeric_limits<qint32>::max())
            return false;
        count = qint32(whole);
        return true;
    }
    const double value = token.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value != std::floor(value) || value < std::numeric_limits<qint32>::min() ||
        value > std::numeric_limits<qint32>::max())
        return false;
    count = qint32(value);
    return true;
}

bool parseCounts(const QList<QByteArray> &tokens, TRadiationSpectr &spectrum, const QString &where, Problem *error)
{
    if (tokens.size() != kChannels)
        return fail(error, K::ChannelCount, QStringLiteral("%1 holds %2 channels; a spectrum has %3").arg(where).arg(tokens.size()).arg(kChannels));
    for (int c = 0; c < kChannels; ++c) {
        qint32 count = 0;
        if (!parseCount(tokens[c], count))
            return fail(error, K::Counts, QStringLiteral("%1: the count of channel %2 (\"%3\") is no whole number of the range a "
                                              "spectrum keeps")
                                   .arg(where)
                                   .arg(c)
                                   .arg(QString::fromLatin1(tokens[c].left(40))));
        spectrum.SetCount(c, count);
    }
    return true;
}

// Calibration coefficients a0 a1 [a2 ...]: a straight line, higher terms 0.
bool parseCoefficients(const QList<QByteArray> &tokens, TRadiationSpectr &spectrum, const QString &where,
                       Problem *error)
{
    if (tokens.size() < 2)
        return fail(error, K::Calibration, QStringLiteral("%1: the energy calibration needs an offset and a slope").arg(where));
    long double values[2];
    for (int i = 0; i < tokens.size(); ++i) {
        bool ok = false;
        const long double value = StrToFloatDot(tokens[i], &ok);
        if (!ok || !std::isfinite(double(value)))
            return fail(error, K::Calibration, QStringLiteral("%1: the calibration coefficient \"%2\" is no number")
                                   .arg(where, QString::fromLatin1(tokens[i].left(40))));
        if (i < 2)
            values[i] = value;
        else if (value != 0)
            return fail(error, K::Calibration, QStringLiteral("%1: the energy calibration is not a straight line; a spectrum keeps "
                                              "two coefficients")
                                   .arg(where));
    }
    spectrum.CoefB = values[0];
    spectrum.CoefA = values[1];
    return true;
}

QList<QByteArray> tokensOf(const QByteArray &text)
{
    return text.simplified().split(' ');
}

// --- N42 ----------------------------------------------------------------------------------

QString coefficientText(const TRadiationSpectr &spectrum)
{
    return QString::fromLatin1(FloatToStrDot(spectrum.CoefB) + ' ' + FloatToStrDot(spectrum.CoefA));
}

QByteArray n42Image(const TSpectrumFile &file)
{
    struct Part {
        const TRadiationSpectr *spectrum;
        QByteArray header;
        QString kind;
    };
    QList<Part> parts{{&file.Main, file.MainHeader, QStringLiteral("Foreground")}};
    if (file.Background)
        parts.append({&*file.Background, file.BackgroundHeader, QStringLiteral("Background")});

    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kN42Namespace);
    xml.writeStartElement(kN42Namespace, QStringLiteral("RadInstrumentData"));
    xml.writeStartElement(QStringLiteral("RadInstrumentInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadInstrumentInformation-1"));
    xml.writeTextElement(QStringLiteral("RadInstrumentManufacturerName"), QStringLiteral("Unknown"));
    xml.writeTextElement(QStringLiteral("RadInstrumentModelName"), QStringLiteral("KVARN-T"));
    xml.writeTextElement(QStringLiteral("RadInstrumentClassCode"), QStringLiteral("Other"));
    xml.writeStartElement(QStringLiteral("RadInstrumentVersion"));
    xml.writeTextElement(QStringLiteral("RadInstrumentComponentName"), QStringLiteral("Software"));
    xml.writeTextElement(QStringLiteral("RadInstrumentComponentVersion"), QStringLiteral("kvarn 1.1"));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("RadDetectorInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadDetectorInformation-1"));
    xml.writeTextElement(QStringLiteral("RadDetectorCategoryCode"), QStringLiteral("Gamma"));
    xml.writeEndElement();
    for (const Part &part : parts) {
        xml.writeStartElement(QStringLiteral("EnergyCalibration"));
        xml.writeAttribute(QStringLiteral("id"), QStringLiteral("EnergyCalibration-") + part.kind);
        xml.writeTextElement(QStringLiteral("CoefficientValues"), coefficientText(*part.spectrum));
        xml.writeEndElement();
    }
    for (const Part &part : parts) {
        xml.writeStartElement(QStringLiteral("RadMeasurement"));
        xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadMeasurement-") + part.kind);
        xml.writeTextElement(QStringLiteral("MeasurementClassCode"), part.kind);
        xml.writeStartElement(QStringLiteral("Spectrum"));
        xml.writeAttribute(QStringLiteral("id"), QStringLiteral("Spectrum-") + part.kind);
        xml.writeAttribute(QStringLiteral("radDetectorInformationReference"), QStringLiteral("RadDetectorInformation-1"));
        xml.writeAttribute(QStringLiteral("energyCalibrationReference"), QStringLiteral("EnergyCalibration-") + part.kind);
        if (const QByteArray remark = headerRemark(*part.spectrum, part.header); !remark.isEmpty())
            xml.writeTextElement(QStringLiteral("Remark"), QString::fromLatin1(remark));
        QByteArray values;
        for (int c = 0; c < kChannels; ++c) {
            values += QByteArray::number(part.spectrum->GetCount(c));
            values += c % 16 == 15 ? '\n' : ' ';
        }
        xml.writeStartElement(QStringLiteral("ChannelData"));
        xml.writeAttribute(QStringLiteral("compressionCode"), QStringLiteral("None"));
        xml.writeCharacters(QLatin1Char('\n') + QString::fromLatin1(values));
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

struct N42Spectrum {
    QString kind;
    QString calibration;
    QByteArray remark;
    QByteArray channelData;
    QString compression;
};

// Channel data, expanding the zero runs of "CountedZeroes" ("0 n" is n zeros).
QList<QByteArray> n42Channels(const N42Spectrum &s, Problem *error)
{
    QList<QByteArray> tokens = tokensOf(s.channelData);
    if (s.compression.isEmpty() || s.compression == u"None")
        return tokens;
    if (s.compression != u"CountedZeroes") {
        fail(error, K::Layout, QStringLiteral("channel data compressed as \"%1\" cannot be read").arg(s.compression));
        return {};
    }
    QList<QByteArray> expanded;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens[i].toDouble() == 0 && i + 1 < tokens.size()) {
            const double run = tokens[++i].toDouble();
            if (run < 0 || run > kChannels || run != std::floor(run)) {
                fail(error, K::Layout, QStringLiteral("a run of zeroes in the channel data is no count of channels"));
                return {};
            }
            for (int k = 0; k < int(run); ++k)
                expanded.append("0");
            if (expanded.size() > kChannels)
                break;
        } else {
            expanded.append(tokens[i]);
        }
    }
    return expanded;
}

bool parseN42(const QByteArray &bytes, TSpectrumFile &file, Problem *error)
{
    QXmlStreamReader xml(bytes);
    QHash<QString, QByteArray> calibrations;
    QList<N42Spectrum> spectra;
    QString kind;
    bool root = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        if (!root) {
            if (name != u"RadInstrumentData" || xml.namespaceUri() != kN42Namespace)
                return fail(error, K::Layout, QStringLiteral("not an N42 document: the root is not RadInstrumentData in %1")
                                       .arg(kN42Namespace));
            root = true;
        } else if (xml.namespaceUri() != kN42Namespace) {
            xml.skipCurrentElement();
        } else if (name == u"EnergyCalibration") {
            const QString id = xml.attributes().value(QStringLiteral("id")).toString();
            while (xml.readNextStartElement()) {
                if (xml.name() == u"CoefficientValues")
                    calibrations.insert(id, xml.readElementText().toLatin1());
                else
                    xml.skipCurrentElement();
            }
        } else if (name == u"RadMeasurement") {
            kind.clear();
        } else if (name == u"MeasurementClassCode") {
            kind = xml.readElementText().trimmed();
        } else if (name == u"Spectrum") {
            N42Spectrum s;
            s.kind = kind;
            s.calibration = xml.attributes().value(QStringLiteral("energyCalibrationReference")).toString();
            while (xml.readNextStartElement()) {
                if (xml.name() == u"ChannelData") {
                    s.compression = xml.attributes().value(QStringLiteral("compressionCode")).toString();
                    s.channelData = xml.readElementText().toLatin1();
                } else if (xml.name() == u"Remark") {
                    s.remark += xml.readElementText().toLatin1();
                } else {
                    xml.skipCurrentElement();
                }
            }
            spectra.append(s);
        }
    }
    if (xml.hasError())
        return fail(error, K::Layout, QStringLiteral("not well-formed XML: %1 (line %2)").arg(xml.errorString()).arg(xml.lineNumber()));
    if (!root)
        return fail(error, K::Layout, QStringLiteral("not an N42 document"));
    if (spectra.isEmpty())
        return fail(error, K::Layout, QStringLiteral("the N42 document holds no spectrum"));

    auto take = [&](const N42Spectrum &s, TRadiationSpectr &spectrum, QByteArray &header) {
        const QString where = QStringLiteral("the %1 spectrum").arg(s.kind.isEmpty() ? QStringLiteral("first") : s.kind);
        Problem reason;
        const QList<QByteArray> channels = n42Channels(s, &reason);
        if (reason.kind != K::None)
            return fail(error, reason.kind, where + QStringLiteral(": ") + reason.text);
        if (!parseCounts(channels, spectrum, where, error))
            return false;
        if (!s.calibration.isEmpty()) {
            if (!calibrations.contains(s.calibration))
                return fail(error, K::Calibration, QStringLiteral("%1 names the energy calibration \"%2\", which the document lacks")
                                       .arg(where, s.calibration));
            if (!parseCoefficients(tokensOf(calibrations.value(s.calibration)), spectrum, where, error))
                return false;
        }
        header = restoreHeader(spectrum, s.remark);
        return true;
    };
    const N42Spectrum *main = nullptr, *background = nullptr;
    for (const N42Spectrum &s : spectra) {
        if (s.kind == u"Background") {
            if (!background)
                background = &s;
        } else if (!main) {
            main = &s;
        }
    }
    if (!main)
        std::swap(main, background); // a background alone is the spectrum of the file
    TSpectrumFile read;
    if (!take(*main, read.Main, read.MainHeader))
        return false;
    if (background) {
        read.Background.emplace();
        if (!take(*background, *read.Background, read.BackgroundHeader))
            return false;
    }
    file = read;
    return true;
}

// --- IAEA SPE -----------------------------------------------------------------------------

QByteArray speImage(const TSpectrumFile &file)
{
    const TRadiationSpectr &s = file.Main;
    QByteArray text = "$SPEC_ID:\r\nKVARN-T spectrum\r\n";
    if (const QByteArray remark = headerRemark(s, file.MainHeader); !remark.isEmpty())
        text += "$SPEC_REM:\r\n" + remark + "\r\n";
    text += "$DATA:\r\n0 " + QByteArray::number(kChannels - 1) + "\r\n";
    for (int c = 0; c < kChannels; ++c)
        text += QByteArray::number(s.GetCount(c)).rightJustified(8) + "\r\n";
    const QByteArray b = FloatToStrDot(s.CoefB), a = FloatToStrDot(s.CoefA);
    text += "$ENER_FIT:\r\n" + b + ' ' + a + "\r\n";
    text += "$MCA_CAL:\r\n2\r\n" + b + ' ' + a + " keV\r\n";
    return text;
}

bool parseSpe(const QByteArray &bytes, TSpectrumFile &file, Problem *error)
{
    QHash<QByteArray, QList<QByteArray>> sections;
    QByteArray section;
    for (QByteArray line : bytes.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('$') && line.endsWith(':')) {
            section = line.toUpper();
            if (sections.contains(section))
                return fail(error, K::Layout, QStringLiteral("the SPE section %1 appears twice").arg(QString::fromLatin1(section)));
            sections.insert(section, {});
        } else if (!section.isEmpty()) {
            sections[section].append(line);
        } else if (!line.isEmpty()) {
            return fail(error, K::Layout, QStringLiteral("not an SPE file: text before the first $ section"));
        }
    }
    if (!sections.contains("$DATA:"))
        return fail(error, K::Layout, QStringLiteral("the SPE file has no $DATA: section"));
    const QList<QByteArray> data = sections.value("$DATA:");
    const QList<QByteArray> range = data.isEmpty() ? QList<QByteArray>{} : tokensOf(data.first());
    bool firstOk = false, lastOk = false;
    const int first = range.size() == 2 ? range[0].toInt(&firstOk) : -1;
    const int last = range.size() == 2 ? range[1].toInt(&lastOk) : -1;
    if (!firstOk || !lastOk)
        return fail(error, K::Layout, QStringLiteral("the SPE $DATA: section does not begin with its first and last channel"));
    if (first != 0 || last != kChannels - 1)
        return fail(error, K::ChannelCount, QStringLiteral("the SPE file holds channels %1 to %2; a spectrum has channels 0 to %3")
                               .arg(first)
                               .arg(last)
                               .arg(kChannels - 1));
    TSpectrumFile read;
    if (!parseCounts(tokensOf(data.mid(1).join(' ')), read.Main, QStringLiteral("the SPE $DATA: section"), error))
        return false;
    if (const QList<QByteArray> cal = sections.value("$MCA_CAL:"); !cal.isEmpty()) {
        QList<QByteArray> tokens = cal.size() > 1 ? tokensOf(cal[1]) : QList<QByteArray>{};
        bool ok = false;
        const int n = cal[0].trimmed().toInt(&ok);
        if (!ok || n < 1 || tokens.size() < n)
            return fail(error, K::Layout, QStringLiteral("the SPE $MCA_CAL: section does not give its coefficients"));
        if (!parseCoefficients(tokens.mid(0, n), read.Main, QStringLiteral("the SPE $MCA_CAL: section"), error))
            return false;
    } else if (const QList<QByteArray> fit = sections.value("$ENER_FIT:"); !fit.isEmpty()) {
        if (!parseCoefficients(tokensOf(fit[0]), read.Main, QStringLiteral("the SPE $ENER_FIT: section"), error))
            return false;
    }
    read.MainHeader = restoreHeader(read.Main, sections.value("$SPEC_REM:").join('\n'));
    file = read;
    return true;
}

// --- CSV ----------------------------------------------------------------------------------

bool parseCsv(const QByteArray &bytes, TSpectrumFile &file, Problem *error)
{
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return fail(error, K::Layout, QStringLiteral("the CSV file is empty"));
    const QByteArray head = lines.takeFirst().toLower();
    const bool energies = head == "channel,energy_kev,count";
    if (!energies && head != "channel,count")
        return fail(error, K::Layout, QStringLiteral("the CSV header is not \"channel,energy_kev,count\" or \"channel,count\""));
    if (lines.size() != kChannels)
        return fail(error, K::ChannelCount, QStringLiteral("the CSV file holds %1 rows; a spectrum has %2 channels").arg(lines.size()).arg(kChannels));
    TSpectrumFile read;
    QList<QByteArray> counts;
    QList<long double> keV;
    for (int c = 0; c < kChannels; ++c) {
        const QList<QByteArray> fields = lines[c].split(',');
        bool ok = false;
        if (fields.size() != (energies ? 3 : 2) || fields[0].trimmed().toInt(&ok) != c || !ok)
            return fail(error, K::Layout, QStringLiteral("CSV row %1 is not channel %2 with its values").arg(c + 2).arg(c));
        if (energies) {
            keV.append(StrToFloatDot(fields[1].trimmed(), &ok));
            if (!ok)
                return fail(error, K::Layout, QStringLiteral("CSV row %1: the energy is no number").arg(c + 2));
        }
        counts.append(fields.last().trimmed());
    }
    if (!parseCounts(counts, read.Main, QStringLiteral("the CSV file"), error))
        return false;
    if (energies) {
        // The energies are printed to 15 digits: the line through the ends
        // gives every other one to within that.
        const long double b = keV.first(), a = (keV.last() - keV.first()) / (kChannels - 1);
        const long double tolerance = 1e-9L * (std::fabs(keV.first()) + std::fabs(keV.last())) + 1e-12L;
        if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(tolerance))
            return fail(error, K::Calibration, QStringLiteral("the CSV energies are beyond any calibration"));
        for (int c = 0; c < kChannels; ++c)
            if (!(std::fabs(keV[c] - (a * c + b)) <= tolerance))
                return fail(error, K::Calibration, QStringLiteral("the CSV energies do not lie on a straight line (row %1)").arg(c + 2));
        read.Main.CoefA = a;
        read.Main.CoefB = b;
    }
    file = read;
    return true;
}

bool parseAs(const QByteArray &bytes, TSpectrumFormat format, TSpectrumFile &file, Problem *error)
{
    switch (format) {
    case TSpectrumFormat::Spc: {
        TSpectrumFile read;
        if (!read.Main.LoadFromFileImage(bytes))
            return fail(error, K::ChannelCount, QStringLiteral("a spectrum file is %1 bytes long, this one %2")
                                   .arg(TRadiationSpectr::FileSize)
                                   .arg(bytes.size()));
        read.MainHeader = bytes.left(TRadiationSpectr::HeaderSize);
        file = read;
        return true;
    }
    case TSpectrumFormat::N42: return parseN42(bytes, file, error);
    case TSpectrumFormat::Spe: return parseSpe(bytes, file, error);
    case TSpectrumFormat::Csv: return parseCsv(bytes, file, error);
    }
    return false;
}

} // namespace

std::optional<TSpectrumFormat> SpectrumFormatOf(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"spc")
        return TSpectrumFormat::Spc;
    if (suffix == u"n42")
        return TSpectrumFormat::N42;
    if (suffix == u"spe")
        return TSpectrumFormat::Spe;
    if (suffix == u"csv")
        return TSpectrumFormat::Csv;
    return std::nullopt;
}

std::vector<double> SpectrumCountsOf(const TRadiationSpectr &spectrum)
{
    std::vector<double> counts(kChannels);
    for (int c = 0; c < kChannels; ++c)
        counts[size_t(c)] = spectrum.GetCount(c);
    return counts;
}

QByteArray SpectrumCsvImage(const TRadiationSpectr &spectrum, bool withEnergy)
{
    QByteArray csv = withEnergy ? "channel,energy_kev,count\n" : "channel,count\n";
    csv.reserve(kChannels * (withEnergy ? 32 : 16));
    for (int c = 0; c < kChannels; ++c) {
        csv += QByteArray::number(c) + ',';
        if (withEnergy)
            csv += FloatToStrDot(spectrum.CoefA * c + spectrum.CoefB) + ',';
        csv += QByteArray::number(spectrum.GetCount(c)) + '\n';
    }
    return csv;
}

QByteArray SpectrumFileImage(const TSpectrumFile &file, TSpectrumFormat format)
{
    switch (format) {
    case TSpectrumFormat::Spc: return spcImage(file.Main, file.MainHeader);
    case TSpectrumFormat::N42: return n42Image(file);
    case TSpectrumFormat::Spe: return speImage(file);
    case TSpectrumFormat::Csv: return SpectrumCsvImage(file.Main, true);
    }
    return {};
}

bool ParseSpectrumFile(const QByteArray &bytes, TSpectrumFormat format, TSpectrumFile &file, QString *error,
                       TSpectrumFileProblem *kind)
{
    Problem problem;
    const bool parsed = parseAs(bytes, format, file, &problem);
    if (!parsed) {
        if (error)
            *error = problem.text;
        if (kind)
            *kind = problem.kind;
    }
    return parsed;
}

bool ReadSpectrumFile(const QString &fileName, TSpectrumFile &file, QString *error, TSpectrumFileProblem *kind)
{
    if (kind)
        *kind = K::File;
    const std::optional<TSpectrumFormat> format = SpectrumFormatOf(fileName);
    if (!format)
        return fail(error, QStringLiteral("%1 is none of .spc, .n42, .spe, .csv").arg(fileName));
    const QFileInfo info(fileName);
    if (!info.exists() || !info.isFile())
        return fail(error, QStringLiteral("%1 is no file").arg(fileName));
    // Far more than any spectrum file: a larger one is refused unread.
    constexpr qint64 kLargest = 4 << 20;
    if (info.size() > kLargest)
        return fail(error, QStringLiteral("%1 is too large for a spectrum file").arg(fileName));
    QFile in(fileName);
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("%1 cannot be read: %2").arg(fileName, in.errorString()));
    const QByteArray bytes = in.read(kLargest + 1);
    QString reason;
    if (!ParseSpectrumFile(bytes, *format, file, &reason, kind))
        return fail(error, QStringLiteral("%1: %2").arg(fileName, reason));
    if (kind)
        *kind = K::None;
    return true;
}

bool WriteSpectrumFile(const QString &fileName, const TSpectrumFile &file, QString *error)
{
    const std::optional<TSpectrumFormat> format = SpectrumFormatOf(fileName);
    if (!format)
        return fail(error, QStringLiteral("%1 is none of .spc, .n42, .spe, .csv").arg(fileName));
    if (!SaveFileAtomically(fileName, SpectrumFileImage(file, *format)))
        return fail(error, QStringLiteral("%1 could not be written").arg(fileName));
    return true;
}
