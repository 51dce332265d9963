#pragma once
// One archive column as a time series, apart from any widget: the records'
// DATETIME ("dd/mm/yyyy hh.mm.ss", the installation's clock) against the
// column's values, the alarm thresholds as lines when the archive records
// them, the thinning of a long series to what a plot of some pixels can show,
// and the CSV of a time range. The chart window draws what these give.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPointF>
#include <QString>

class TDeviceArchive;

struct TArchiveChartSeries {
    QByteArray ColumnName; // code page 1251, as in the archive
    // What the column holds ("Измеренная величина (Бк/м**3)"), code page
    // 1251: the value axis' title. Empty: the column's name is the title.
    QByteArray Description;
    // x: the record's time in milliseconds since the epoch, the installation's
    // clock taken as this computer's local time (the time axis shows local
    // time); y: the value. In time order (records of equal time keep theirs).
    QList<QPointF> Points;
    // Records left out because their time or value is no number.
    int Skipped = 0;
    // Step lines of the thresholds over the same times: a point where a
    // threshold first appears, two where it changes (old and new value at the
    // same time), one at the last time. Present only when the archive has the
    // column.
    bool HasAlarm1 = false;
    bool HasAlarm2 = false;
    QList<QPointF> Alarm1;
    QList<QPointF> Alarm2;
};

// The column of that name, ignoring letter case, or -1.
int ArchiveColumnIndex(const TDeviceArchive &archive, QByteArrayView name);

// "dd/mm/yyyy hh.mm.ss" (blanks around it allowed) as milliseconds since
// the epoch in local time; false for any other text or an impossible date or
// time.
bool ParseArchiveDateTime(QByteArrayView text, qint64 &msecs);
// The other way: local time as "dd/mm/yyyy hh.mm.ss".
QByteArray FormatArchiveDateTime(qint64 msecs);

// The series of column `column` against DATETIME. Values are read straight
// from the archive's value block. An archive without DATETIME, or a column
// it lacks, gives an empty series with every record skipped.
TArchiveChartSeries BuildArchiveChartSeries(const TDeviceArchive &archive, int column);

// The points of a time-ordered series with xMin <= x <= xMax, and one on
// either side so that the line runs to the plot's edges, thinned to at most
// four per bucket of the range (the first, lowest, highest and last, in
// their order): a line drawn through them covers the same pixels as one
// through every point, however many there are.
QList<QPointF> ThinChartPoints(const QList<QPointF> &points, double xMin, double xMax, int buckets);

// The points with xMin <= x <= xMax as UTF-8 CSV: a header row "DATETIME,"
// and the column name, then one row per point, time as the installation
// writes it and the value with up to 15 significant digits.
QByteArray ArchiveChartCsv(const TArchiveChartSeries &series, double xMin, double xMax);
