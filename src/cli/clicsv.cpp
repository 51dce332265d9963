#include "cli/clicsv.h"

#include "cli/cliconsole.h"
#include "instrument/devicearchive.h"
#include "instrument/radiationspectr.h"
#include "base/savefile.h"
#include "base/cp1251.h"

QByteArray CsvField(const QByteArray &cp1251)
{
    QByteArray field = FromCp1251(cp1251).toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

QByteArray SpectrumCsv(const TRadiationSpectr &spectrum)
{
    QByteArray csv = "channel,count\n";
    csv.reserve(TRadiationSpectr::ChannelCount * 16);
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        csv += QByteArray::number(c) + ',' + QByteArray::number(spectrum.GetCount(c)) + '\n';
    return csv;
}

QByteArray ArchiveCsv(const TDeviceArchive &archive)
{
    QByteArray csv;
    const TOPVarList *names = archive.Names();
    const int columns = names ? names->Count() : 0;
    for (int c = 0; c < columns; ++c)
        csv += (c ? "," : "") + CsvField(names->GetItem(c)->Name);
    csv += '\n';
    for (int r = 0; r < archive.RecordCount(); ++r) {
        const TOPVarList *record = archive.GetRecord(r)->VarList.get();
        for (int c = 0; c < columns; ++c) {
            const TOPVarListItem *item = record ? record->GetItem(c) : nullptr;
            csv += (c ? "," : "") + CsvField(item ? item->Value : QByteArray());
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
