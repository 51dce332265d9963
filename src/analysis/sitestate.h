#pragma once
// The site's state rows: which installation needs the operator now. One row
// per installation from what the site database holds, computed here once for
// the window "Площадка" and for kvarnctl status, which only show them.

#include "store/sitestore.h"

#include <QDateTime>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <optional>

struct TSiteRow {
    enum class Link { Up, Lost, Stale };

    QString Installation;
    QString Serial;
    Link LinkState = Link::Stale;
    QDateTime Since;   // Lost: when the link went; Stale: the last reading (invalid: none); Up: when restored
    QString LinkText;  // "есть", "нет связи с ЧЧ:ММ", "нет данных N мин"
    QString Activity;  // the last reading's text, as the installation gave it
    std::optional<double> ActivityValue;
    QDateTime At;      // of the last reading, UTC
    qint64 AgeSeconds = -1;
    int Alarm = 0;     // 0, 1, 2: the lamps green, yellow, red
    bool AlarmKnown = false; // a reading has come: without one no lamp is lit
    QStringList Faults; // the STATUS fault bits in words
    bool Stuck = false; // the same ACTIVITY for too many readings
    qint64 Records = 0;
    QString NewestRecord; // DATETIME
    QList<QPointF> Day;   // x: seconds since the epoch (installation's clock), y: ACTIVITY
    std::optional<double> Threshold1;

    bool NeedsAttention() const;
    QString AlarmText() const;   // "норма", "порог 1", "порог 2"; "нет данных" without a reading
    QString AgeText() const;     // "12 с", "5 мин", "3 ч", "2 сут"
};

// Readings older than this many poll intervals count as no data; with a
// database that does not know the interval (schema version 1), after this
// many seconds.
constexpr int kStalePolls = 3;
constexpr int kStaleSecondsWithoutInterval = 300;

// The rows in the window's order: those needing attention first, then by name.
QList<TSiteRow> SiteRows(const QList<TStoreInstallationState> &states, const QDateTime &now);
int AttentionCount(const QList<TSiteRow> &rows);

// The STATUS fault bits in the window's words; empty when sound or no number.
QStringList FaultWords(const std::optional<QByteArray> &status);
// An event kind in the operator's words; an unknown kind as it is.
QString EventKindText(const QString &kind);
// Every kind the collector records, in the order of a filter list.
QStringList EventKinds();

// kvarnctl status: one line per row, or the JSON array.
QString SiteRowLine(const TSiteRow &row);
QByteArray SiteRowsJson(const QList<TSiteRow> &rows);
