#pragma once
// The site file of kvarn-collect: an INI file in UTF-8.
//
//   [collect]
//   Database=sqlite:/var/lib/kvarn/site.db
//   Metrics=127.0.0.1:9410
//   OnAlarm=/usr/local/bin/radon-alarm --quiet
//   Collector=plant-pc-2               default the host name
//   Site=plant-2                       the site's name (default the host name)
//   StaleSeconds=60  StuckReadings=360 for every installation, unless it says
//
//   [mqtt]
//   Broker=mqtts://broker.example.org  mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
//   CAFile=/etc/ssl/site-ca.pem  CertFile=…  KeyFile=…  User=kvarn  Password=…
//   ClientId=…  Topic=kvarn/plant-2  QoS=1  Discovery=homeassistant (or off)
//
//   [installation hall-1]
//   PortNumber=/dev/ttyUSB0            the nine keys of "commport.cfg" (or
//                                      socket://HOST:PORT, a serial device server), or
//   LineSettings=commport.cfg          the nine taken from such a file
//   Device=1  PollSeconds=10  ArchiveSeconds=600
//   Variables=DATETIME,ACTIVITY  Since=2026-12-01 00:00
//
// Lines starting with ';' or '#' are comments. Every fault of the file (an
// unknown section or key, a key given twice, a value out of range, two
// sections of one name, two installations at one address of one line, one
// line given two sets of settings) is refused with the number of the line,
// so nothing is sent on a file the operator did not mean.

#include "exchange/eurdep.h"
#include "serial/comsettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <optional>

struct TSiteInstallation {
    QString Name;
    int Line = 0; // the line of its section header in the file
    TComSettings Settings;
    quint8 Device = 1;
    int PollSeconds = 10;
    int ArchiveSeconds = 600;
    QList<QByteArray> Columns; // stored archive variables, upper case, without DATETIME
    std::optional<QDateTime> Since; // wall clock as UTC, as the installation's times read back
    // No answered reading for this long is "stale"; the same ACTIVITY text
    // in this many readings in a row is "stuck" (0: never).
    int StaleSeconds = 30;
    int StuckReadings = 0;
    // EURDEP: where it stands, what it measures, and the zone of its clock.
    TEurdepLocality Locality;
    QTimeZone TimeZone = QTimeZone::systemTimeZone();
};

// The MQTT broker the live state goes to.
struct TMqttSettings {
    QString Host;
    quint16 Port = 1883;
    bool Tls = false;
    QString CaFile; // empty with TLS: the system's certificates
    QString CertFile, KeyFile;
    QString User, Password;
    QString ClientId;  // default kvarn-collect-HOSTNAME
    QString Topic;     // the prefix, default kvarn/SITE
    int Qos = 1;
    QString Discovery; // Home Assistant's discovery prefix; empty: none
    QString Display() const; // mqtt://HOST:PORT, for messages
};

struct TMetricsAddress {
    QHostAddress Host;
    quint16 Port = 0;
    // "HOST:PORT", "[v6]:PORT" or "PORT" (loopback); empty on a bad text.
    static std::optional<TMetricsAddress> Parse(const QString &text);
};

struct TSiteConfig {
    QString Database; // a store URL, a relative sqlite path made absolute beside the file
    bool DatabaseFromFile = false;
    std::optional<TMetricsAddress> Metrics;
    QStringList OnAlarm; // program and arguments; empty when none
    QString Collector;   // this collector's name on its readings (Collector=, default the host name)
    QString Site;        // the site's name: [collect] Site=, default the host name
    std::optional<TMqttSettings> Mqtt;
    QList<TSiteInstallation> Installations;
    // EURDEP files (eurdepsite.h): the sender, the country, the folder a
    // transfer job picks them up from (empty: none written), the period.
    QString Originator, CountryCode, EurdepDir;
    int EurdepPeriodSeconds = 3600;
    // Warnings to log at start (a password other users can read).
    QStringList Warnings;

    // Reads and checks the file; on failure error says "FILE:LINE: why".
    static std::optional<TSiteConfig> Load(const QString &path, QString *error);
    // The same for a text (the file's folder resolves relative paths).
    static std::optional<TSiteConfig> Parse(const QByteArray &text, const QString &fileName, const QString &folder,
                                            QString *error);

    // The installations grouped by line (one port), in file order.
    QList<QList<int>> Lines() const;
};

// A name as one level of an MQTT topic: '/', '+', '#' and control
// characters become '_'.
QString TopicLevel(const QString &name);

// "sqlite:relative" made absolute against folder; other URLs as they are.
QString AbsoluteStoreUrl(const QString &url, const QString &folder);
