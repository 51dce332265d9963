#pragma once
// The archive the benchmarks work on: records of all twelve archive
// variables, one every ten minutes, with values of the installation's forms.

#include "instrument/devicearchive.h"

#include <QByteArray>
#include <cstdio>

namespace benchfixture {

inline const char *const kColumns[] = {"DATETIME", "SERIALN",  "DRYCONTACTIN", "DRYCONTACTOUT",
                                       "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                       "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};
constexpr int kColumnCount = int(sizeof kColumns / sizeof kColumns[0]);

inline QByteArray valueOf(int column, int record)
{
    switch (column) {
    case 0: {
        const int s = record * 600; // one record every ten minutes
        char text[32];
        std::snprintf(text, sizeof text, "%02d/%02d/2004 %02d.%02d.%02d", 1 + s / 86400 % 28,
                      1 + s / (86400 * 28) % 12, s / 3600 % 24, s / 60 % 60, s % 60);
        return text;
    }
    case 1: return "1047";
    case 2: case 3: case 8: case 9: return record % 7 == 0 ? "1" : "0";
    case 4: return "250.5";
    case 5: return "0.0132";
    case 6: return "200";
    case 7: return "1000";
    case 10: return QByteArray::number(16 * (record % 16));
    default: return QByteArray::number(80.0 + record % 997 / 10.0, 'g', 6);
    }
}

// An archive as an installation read leaves it: names, descriptions (unless
// told otherwise), and records whose items carry the record index.
inline void Fill(TDeviceArchive &archive, int records, bool described = true)
{
    TOPVarList names, descriptions;
    for (const char *c : kColumns) {
        names.Add(c);
        descriptions.Add(QByteArray("description of ") + c);
    }
    archive.SetNames(names);
    if (described)
        archive.SetDescriptions(descriptions);
    for (int r = 0; r < records; ++r) {
        TOPVarList vars;
        const QByteArray index = "A" + QByteArray::number(r + 1).rightJustified(3, '0');
        for (int c = 0; c < kColumnCount; ++c)
            vars.Add(kColumns[c], index, valueOf(c, r));
        archive.AddRecord(vars);
    }
}

} // namespace benchfixture
