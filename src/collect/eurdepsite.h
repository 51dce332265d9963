#pragma once
// A site's EURDEP messages from its database: the site file's locality keys
// and the periods' values read back from the stored records. Used by
// kvarn-collect's continuous writer and by kvarnctl export.
//
//   [collect]
//   Originator=Site Alpha            who sends (default: this computer's name)
//   CountryCode=RU                   two letters, leads each file's name
//   EurdepDir=/var/spool/kvarn/eurdep
//   EurdepPeriod=1h                  or 10min
//
//   [installation hall-1]
//   LocalityCode=RU0001  LocalityName=Hall 1
//   Latitude=55.7512  Longitude=37.6184  HeightAboveSea=150
//   Nuclide=RN-222  SampleType=A1  TimeZone=Europe/Moscow

#include "collect/siteconfig.h"
#include "exchange/eurdep.h"

#include <QDateTime>
#include <QString>
#include <optional>

class TSiteStore;

// A key of an installation section that belongs here: nullopt when it is
// none of these, an empty text when taken, else why the value is refused.
std::optional<QString> EurdepInstallationKey(TSiteInstallation &installation, const QString &key, const QString &value);
// The same for [collect].
std::optional<QString> EurdepCollectKey(TSiteConfig &config, const QString &key, const QString &value);

// "1h" or "10min" as seconds; nullopt for anything else.
std::optional<int> EurdepPeriodSeconds(const QString &text);
// Why these installations cannot be exported (the first without a locality
// code, or two with one code), or empty.
QString EurdepExportProblem(const QList<TSiteInstallation> &installations);

// The installation's records from a day before from up to to (UTC), in time
// order: its clock's wall time read in its time zone. False with error set
// when the database cannot be read.
bool ReadActivitySamples(TSiteStore &store, const TSiteInstallation &installation, const QDateTime &from,
                         const QDateTime &to, QList<TActivitySample> *samples, QString *error);
// The periods of [from, to) of every installation; nullopt with error set on
// a database failure.
std::optional<QList<TEurdepSeries>> ReadEurdepSeries(TSiteStore &store, const QList<TSiteInstallation> &installations,
                                                     const QDateTime &from, const QDateTime &to, int periodSeconds,
                                                     QString *error);
// A message of the site's series, sent now under the given file name.
TEurdepMessage EurdepSiteMessage(const TSiteConfig &config, QList<TEurdepSeries> series, const QString &fileName);
