#include "cli/clicsv.h"

#include "base/cp1251.h"
#include "base/savefile.h"
#include "cli/cliconsole.h"
#include "instrument/devicearchive.h"
#include "instrument/radiationspectr.h"
#include "instrument/spectrumformats.h"

namespace {

// Plain ASCII without a comma, a quote or a line break is its own field:
// most archive values are, and they skip the conversion.
bool plainField(QByteArrayView text)
{
    for (char c : text)
        if (quint8(c) >= 0x80 || c == ',' || c == '"' || c == '\n' || c == '\r')
            return false;
    return true;
}

void appendField(QByteArray &csv, QByteArrayView cp1251)
{
    if (plainField(cp1251))
        csv.append(cp1251);
    else
        csv.append(CsvField(cp1251.toByteArray()));
}

} // namespace

QByteArray SpectrumCsv(const TRadiationSpectr &spectrum)
{
    return SpectrumCsvImage(spectrum, false);
}

QByteArray ArchiveCsv(const TDeviceArchive &archive)
{
    QByteArray csv;
    const TOPVarList *names = archive.Names();
    const int columns = names ? names->Count() : 0;
    for (int c = 0; c < columns; ++c)
        csv += (c ? "," : "") + CsvField(names->GetItem(c)->Name);
    csv += '\n';
    // Values, separators and line ends: an upper bound for plain values.
    qint64 size = csv.size();
    for (int r = 0; r < archive.RecordCount(); ++r)
        for (int c = 0; c < columns; ++c)
            size += archive.Value(r, c).size() + 1;
    csv.reserve(qsizetype(size + archive.RecordCount()));
    for (int r = 0; r < archive.RecordCount(); ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c)
                csv += ',';
            appendField(csv, archive.Value(r, c));
        }
        csv += '\n';
    }
    return csv;
}

bool WriteCliOutput(TCliConsole &console, const QString &path, const QByteArray &bytes, QString *error)
{
    if (path == u"-") {
        console.OutBytes(bytes);
        return true;
    }
    if (SaveFileAtomically(path, bytes))
        return true;
    if (error)
        *error = QStringLiteral("%1 could not be written").arg(path);
    return false;
}
