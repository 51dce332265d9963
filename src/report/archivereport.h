#pragma once
// The report of an archive period: a header (the installation's serial
// number, the period, the source and the variables), the figures of
// ACTIVITY, its chart with the thresholds, the exceedances, then every
// record of the period as a table over as many pages as it takes.

#include "base/recordtable.h"
#include "report/reportdocument.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

struct TArchiveReportSource {
    // Not owned; must outlive the report.
    const TRecordTable *Records = nullptr;
    // Where the records come from: a file name, or the database and installation.
    QString Origin;
    // The period asked for (the installation's wall clock, carried as UTC);
    // without either bound, every record.
    std::optional<QDateTime> Since;
    std::optional<QDateTime> Until;
    // The serial number when known apart from the records (code page 1251).
    QByteArray Serial;
    // Which of the installation's records these are, when known ("№ 1–150
    // из 300"); shown with their count.
    QString RecordNumbers;
    QString FontFamily;
};

std::unique_ptr<TReportDocument> BuildArchiveReport(const TArchiveReportSource &source);

// "2 ч 05 мин 07 с", "45 с".
QString ReportDuration(qint64 msecs);
// A figure with six significant digits; "—" for none (NaN).
QString ReportNumber(double value);
