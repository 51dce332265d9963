#pragma once
// Figures of an archive period for one column (ACTIVITY as a rule): how many
// values read as numbers, their least, greatest and mean value and standard
// deviation, the mean weighted by time, how long the alarm thresholds were
// exceeded and each exceedance with its start, end and peak. Also the moving
// average the archive chart draws beside the values.
//
// Time: each record stands for the time from its DATETIME to the next
// record's. The usual spacing is the median of the positive spacings; a
// spacing of more than kGapSpacings usual ones is a gap (the installation
// was off, or records were skipped), across which the record before it
// stands for one usual spacing only, as does the last record. So a night
// without records counts neither for the time-weighted mean nor as time
// above a threshold.
//
// A threshold is exceeded at a record when the record's ALARM1ON (ALARM2ON)
// says "1" ("0": not exceeded); where that flag is not recorded or does not
// read, when its value is above its ALARM1 (ALARM2). A record where neither
// decides counts as not exceeded. Records whose DATETIME does not read are
// left out; the others are taken in time order, whatever order the clock
// wrote them in.

#include "base/recordtable.h"

#include <QByteArrayView>
#include <QList>
#include <QPointF>
#include <QtGlobal>
#include <limits>
#include <optional>
#include <vector>

// One record as the figures take it. Times are milliseconds of the
// installation's wall clock taken as UTC (see base/installationtime.h).
struct TStatRecord {
    qint64 Time = 0;
    double Value = std::numeric_limits<double>::quiet_NaN(); // NaN: no number
    // The thresholds ALARM1, ALARM2; NaN: not recorded or no number.
    double Alarm[2] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    qint8 AlarmOn[2] = {-1, -1}; // ALARM1ON, ALARM2ON: 1, 0, or -1 not recorded / not read
    int Record = 0; // its number in the table
};

struct TStatRecords {
    std::vector<TStatRecord> Records; // in time order
    int UnreadableTimes = 0;          // records left out
    bool HasValueColumn = false;
    // Whether the table records each threshold in any form (ALARMn or ALARMnON).
    bool HasAlarm[2] = {false, false};
};

// The records of one column of the table.
TStatRecords CollectStatRecords(const TRecordTable &table, QByteArrayView column);

struct TExceedance {
    int Level = 1;       // 1 or 2
    qint64 Start = 0;    // the first record above
    qint64 End = 0;      // where the last record above stops standing
    double Peak = std::numeric_limits<double>::quiet_NaN(); // the highest value in it; NaN when only the flags told
    qint64 PeakTime = 0;
};

struct TArchiveStats {
    int Records = 0;     // records in the range
    int Count = 0;       // of which values read as numbers
    // NaN when Count is 0; StdDev is the sample's (n - 1), 0 for one value.
    double Min = 0, Max = 0, Mean = 0, StdDev = 0, TimeWeightedMean = 0;
    qint64 First = 0, Last = 0; // times of the first and last record in the range
    // Milliseconds above each threshold; none when the records carry neither
    // the threshold nor its flag.
    std::optional<qint64> Above[2];
    QList<TExceedance> Exceedances; // both levels, by start
};

constexpr int kGapSpacings = 3;

// The figures of the records with since <= Time <= until (either bound may
// be absent).
TArchiveStats ComputeArchiveStats(const TStatRecords &records, std::optional<qint64> since = std::nullopt,
                                  std::optional<qint64> until = std::nullopt);

// Moving averages of a time-ordered series: at each point the mean of the
// last `count` points up to it, or of the points at most `span` milliseconds
// before it. Fewer points at the start give the mean of those there are.
QList<QPointF> MovingAverageByCount(const QList<QPointF> &points, int count);
QList<QPointF> MovingAverageBySpan(const QList<QPointF> &points, double span);
