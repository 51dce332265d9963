#include "collect/siteconfig.h"

#include "base/cp1251.h"
#include "collect/eurdepsite.h"
#include "instrument/archivesearch.h"
#include "instrument/ormak.h"
#include "serial/tcpline.h"
#include "store/sitestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QProcess>
#include <QSet>
#include <QSysInfo>
#include <QStringDecoder>
#include <QUrl>

namespace {

constexpr qint64 kMaxSiteFileBytes = 1 << 20;

struct Fail {
    QString Why;
};

std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high || text.startsWith(u'+'))
        return std::nullopt;
    return v;
}

const QList<QByteArray> &archiveNames()
{
    static const QList<QByteArray> names = [] {
        TORMAK model(nullptr);
        QList<QByteArray> list;
        for (int i = 0; i < model.ArchiveVars->Count(); ++i)
            list << model.ArchiveVars->GetItem(i)->Name;
        return list;
    }();
    return names;
}

QList<QByteArray> parseColumns(const QString &value)
{
    QList<QByteArray> columns;
    for (const QString &part : value.split(u',')) {
        const QByteArray name = part.trimmed().toUpper().toLatin1();
        if (!archiveNames().contains(name))
            throw Fail{QStringLiteral("\"%1\" is not an archive variable (%2)")
                           .arg(part.trimmed(), QString::fromLatin1(archiveNames().join(',')))};
        if (name == "DATETIME")
            continue; // always read
        if (columns.contains(name))
            throw Fail{QStringLiteral("%1 is named twice").arg(QString::fromLatin1(name))};
        columns << name;
    }
    return columns;
}

void checkItem(const QByteArray &value, const QList<QByteArray> &items, const char *key)
{
    if (!items.contains(value)) {
        QStringList texts;
        for (const QByteArray &item : items)
            texts << FromCp1251(item);
        throw Fail{QStringLiteral("%1 takes one of: %2").arg(QLatin1String(key), texts.join(", "))};
    }
}

// The nine line keys: the text checked against the settings window's items.
void setLineKey(TComSettings &s, int key, const QString &value)
{
    const QByteArray text = ToCp1251(value);
    switch (key) {
    case 0:
        if (value.isEmpty())
            throw Fail{QStringLiteral("PortNumber is empty")};
        s.PortNumber = value.toLocal8Bit();
        if (QString host; s.PortNumber.startsWith("socket://")) {
            quint16 port = 0;
            if (!TTcpLine::ParseAddress(s.PortNumber, host, port))
                throw Fail{QStringLiteral("PortNumber \"%1\" is no serial device server: socket://HOST:PORT").arg(value)};
        }
        break;
    case 1: checkItem(text, TComSettings::TransferRateItems(), "TransferRate"); s.TransferRate = text; break;
    case 2: checkItem(text, TComSettings::StopBitsItems(), "StopBits"); s.StopBits = text; break;
    case 3: checkItem(text, TComSettings::ParitetItems(), "Paritet"); s.Paritet = text; break;
    case 4: checkItem(text, TComSettings::LatencyPeriodItems(), "LatencyPeriod"); s.LatencyPeriod = text; break;
    case 5: checkItem(text, TComSettings::LineControlItems(), "DTRControl"); s.DTRControl = text; break;
    case 6: checkItem(text, TComSettings::LineControlItems(), "RTSControl"); s.RTSControl = text; break;
    default: {
        const std::optional<int> v = wholeNumber(value, 0, std::numeric_limits<qint32>::max());
        if (!v)
            throw Fail{QStringLiteral("%1 takes a whole number from 0").arg(QString::fromLatin1(TComSettings::Keys().at(key)))};
        (key == 7 ? s.WriteTimeOutMultiplier : s.WriteTimeOutConstant) = *v;
    }
    }
}

// A whole number in range, or the fault why.
int numberIn(const QString &text, int low, int high, const QString &why)
{
    const std::optional<int> v = wholeNumber(text, low, high);
    if (!v)
        throw Fail{why};
    return *v;
}

// A topic prefix or level path of the operator's: no wildcards, no empty level.
QString topicPath(const QString &value, const char *key)
{
    QString path = value;
    while (path.endsWith(u'/'))
        path.chop(1);
    if (path.isEmpty() || path.contains(u'+') || path.contains(u'#') || path.contains(QChar(0)) ||
        path.split(u'/').contains(QString()))
        throw Fail{QStringLiteral("%1 takes a topic without + or # and without empty levels").arg(QLatin1String(key))};
    return path;
}

QString readableFile(const QString &value, const QString &folder, const char *key)
{
    const QString path = QDir(folder).absoluteFilePath(value);
    if (value.isEmpty() || !QFileInfo(path).isFile() || !QFileInfo(path).isReadable())
        throw Fail{QStringLiteral("%1: %2 cannot be read").arg(QLatin1String(key), path)};
    return path;
}

void setMqttKey(TMqttSettings &m, const QString &key, const QString &value, const QString &folder)
{
    if (key == QLatin1String("Broker")) {
        const QUrl url(value, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
            url.host().isEmpty() || !url.userInfo().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/")) ||
            url.hasQuery() || url.hasFragment() || url.port() == 0)
            throw Fail{QStringLiteral("Broker takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT]")};
        m.Tls = scheme == QLatin1String("mqtts");
        m.Host = url.host();
        m.Port = quint16(url.port(m.Tls ? 8883 : 1883));
    } else if (key == QLatin1String("CAFile")) {
        m.CaFile = readableFile(value, folder, "CAFile");
    } else if (key == QLatin1String("CertFile")) {
        m.CertFile = readableFile(value, folder, "CertFile");
    } else if (key == QLatin1String("KeyFile")) {
        m.KeyFile = readableFile(value, folder, "KeyFile");
    } else if (key == QLatin1String("User")) {
        m.User = value;
    } else if (key == QLatin1String("Password")) {
        m.Password = value;
    } else if (key == QLatin1String("ClientId")) {
        if (value.isEmpty() || value.toUtf8().size() > 65535)
            throw Fail{QStringLiteral("ClientId takes a name")};
        m.ClientId = value;
    } else if (key == QLatin1String("Topic")) {
        m.Topic = topicPath(value, "Topic");
    } else if (key == QLatin1String("QoS")) {
        m.Qos = numberIn(value, 0, 1, QStringLiteral("QoS takes 0 or 1"));
    } else if (key == QLatin1String("Discovery")) {
        m.Discovery = value == QLatin1String("off") ? QString() : topicPath(value, "Discovery");
    } else {
        throw Fail{QStringLiteral("unknown key %1 in [mqtt] (Broker, CAFile, CertFile, KeyFile, User, Password, "
                                  "ClientId, Topic, QoS, Discovery)")
                       .arg(key)};
    }
}

// StaleSeconds and StuckReadings, of an installation or of [collect] for all.
struct Watching {
    std::optional<int> StaleSeconds;
    int StaleLine = 0;
    std::optional<int> StuckReadings;
};

bool setWatchKey(Watching &w, const QString &key, const QString &value, int line)
{
    if (key == QLatin1String("StaleSeconds")) {
        w.StaleSeconds = numberIn(value, 1, 7 * 86400, QStringLiteral("StaleSeconds takes whole seconds from 1 to 604800"));
        w.StaleLine = line;
    } else if (key == QLatin1String("StuckReadings")) {
        w.StuckReadings =
            numberIn(value, 0, 1000000, QStringLiteral("StuckReadings takes a count of readings from 0 (off) to 1000000"));
    } else {
        return false;
    }
    return true;
}

struct Section {
    enum Kind { None, Collect, Installation, Mqtt } Kind = None;
    int Line = 0;
    QSet<QString> Keys;
    bool LineKeys = false;
    bool LineSettings = false;
};

} // namespace

QString TMqttSettings::Display() const
{
    const QString host = Host.contains(u':') ? u'[' + Host + u']' : Host;
    return QStringLiteral("%1://%2:%3").arg(Tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), host).arg(Port);
}

std::optional<TMetricsAddress> TMetricsAddress::Parse(const QString &text)
{
    QString host = QStringLiteral("127.0.0.1");
    QString port = text.trimmed();
    const qsizetype colon = port.lastIndexOf(u':');
    if (colon >= 0) {
        host = port.left(colon);
        port = port.mid(colon + 1);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
    }
    const std::optional<int> number = wholeNumber(port, 1, 65535);
    TMetricsAddress address;
    if (host == QLatin1String("localhost"))
        address.Host = QHostAddress(QHostAddress::LocalHost);
    else if (!address.Host.setAddress(host))
        return std::nullopt;
    if (!number)
        return std::nullopt;
    address.Port = quint16(*number);
    return address;
}

QString TopicLevel(const QString &name)
{
    QString level = name;
    for (QChar &c : level)
        if (c == u'/' || c == u'+' || c == u'#' || c.category() == QChar::Other_Control)
            c = u'_';
    return level.isEmpty() ? QStringLiteral("_") : level;
}

QString AbsoluteStoreUrl(const QString &url, const QString &folder)
{
    if (!url.startsWith(QLatin1String("sqlite:")))
        return url;
    const QString path = url.mid(7);
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return url;
    return QStringLiteral("sqlite:") + QDir(folder).absoluteFilePath(path);
}

std::optional<TSiteConfig> TSiteConfig::Load(const QString &path, QString *error)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: the site file cannot be read").arg(path);
        return std::nullopt;
    }
    if (file.size() > kMaxSiteFileBytes) {
        *error = QStringLiteral("%1: the site file is larger than %2 bytes").arg(path).arg(kMaxSiteFileBytes);
        return std::nullopt;
    }
    std::optional<TSiteConfig> config = Parse(file.readAll(), path, info.absolutePath(), error);
    if (!config)
        return config;
    const bool othersRead = info.permissions() & (QFile::ReadGroup | QFile::ReadOther);
    const std::optional<TStoreUrl> url =
        config->DatabaseFromFile ? TStoreUrl::Parse(config->Database, nullptr) : std::nullopt;
    if (othersRead && url && !url->Password.isEmpty())
        config->Warnings << QStringLiteral("%1 holds a database password and other users can read it "
                                           "(chmod 600 %1, or use PostgreSQL's ~/.pgpass)")
                                .arg(path);
    if (othersRead && config->Mqtt && !config->Mqtt->Password.isEmpty())
        config->Warnings << QStringLiteral("%1 holds the MQTT broker's password and other users can read it "
                                           "(chmod 600 %1)")
                                .arg(path);
    return config;
}

std::optional<TSiteConfig> TSiteConfig::Parse(const QByteArray &text, const QString &fileName, const QString &folder,
                                              QString *error)
{
    TSiteConfig config;
    config.Database = QStringLiteral("sqlite:") + QDir(folder).absoluteFilePath(QStringLiteral("kvarn-site.db"));
    config.Collector = QSysInfo::machineHostName();
    int lineNumber = 0;
    Section section;
    QSet<QString> names;
    bool collectSeen = false;
    Watching site;
    QList<Watching> watching;
    try {
        QStringDecoder decode(QStringDecoder::Utf8);
        const QString all = decode(text);
        if (decode.hasError())
            throw Fail{QStringLiteral("the file is not UTF-8 text")};
        const QStringList lines = all.split(u'\n');
        for (const QString &raw : lines) {
            ++lineNumber;
            QString line = raw;
            if (line.endsWith(u'\r'))
                line.chop(1);
            if (lineNumber == 1 && line.startsWith(QChar(0xFEFF)))
                line.remove(0, 1);
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
                continue;
            if (line.startsWith(u'[')) {
                if (!line.endsWith(u']'))
                    throw Fail{QStringLiteral("a section header ends with ]")};
                const QString head = line.mid(1, line.size() - 2).trimmed();
                section = Section();
                section.Line = lineNumber;
                if (head == QLatin1String("collect")) {
                    if (collectSeen)
                        throw Fail{QStringLiteral("a second [collect] section")};
                    collectSeen = true;
                    section.Kind = Section::Collect;
                } else if (head == QLatin1String("mqtt")) {
                    if (config.Mqtt)
                        throw Fail{QStringLiteral("a second [mqtt] section")};
                    config.Mqtt = TMqttSettings();
                    config.Mqtt->Discovery = QStringLiteral("homeassistant");
                    section.Kind = Section::Mqtt;
                } else if (head.startsWith(QLatin1String("installation "))) {
                    const QString name = head.mid(13).trimmed();
                    if (name.isEmpty())
                        throw Fail{QStringLiteral("the installation has no name")};
                    if (names.contains(name))
                        throw Fail{QStringLiteral("a second installation named \"%1\"").arg(name)};
                    names.insert(name);
                    section.Kind = Section::Installation;
                    TSiteInstallation inst;
                    inst.Name = name;
                    inst.Line = lineNumber;
                    inst.Settings.SetFallbackDefaults();
                    inst.Columns = parseColumns(QString::fromLatin1(archiveNames().join(',')));
                    config.Installations << inst;
                    watching << Watching();
                } else {
                    throw Fail{QStringLiteral("unknown section [%1] (only [collect], [mqtt] and [installation NAME])").arg(head)};
                }
                continue;
            }
            const qsizetype eq = line.indexOf(u'=');
            if (eq <= 0)
                throw Fail{QStringLiteral("neither a section header nor KEY=VALUE")};
            const QString key = line.left(eq).trimmed();
            const QString value = line.mid(eq + 1).trimmed();
            if (section.Kind == Section::None)
                throw Fail{QStringLiteral("%1 before any section").arg(key)};
            if (section.Keys.contains(key))
                throw Fail{QStringLiteral("%1 is given twice in this section").arg(key)};
            section.Keys.insert(key);

            if (section.Kind == Section::Collect) {
                if (key == QLatin1String("Database")) {
                    QString why;
                    if (!TStoreUrl::Parse(value, &why))
                        throw Fail{QStringLiteral("Database: %1").arg(why)};
                    config.Database = AbsoluteStoreUrl(value, folder);
                    config.DatabaseFromFile = true;
                } else if (key == QLatin1String("Metrics")) {
                    config.Metrics = TMetricsAddress::Parse(value);
                    if (!config.Metrics)
                        throw Fail{QStringLiteral("Metrics takes HOST:PORT (127.0.0.1:9410)")};
                } else if (key == QLatin1String("OnAlarm")) {
                    config.OnAlarm = QProcess::splitCommand(value);
                    if (config.OnAlarm.isEmpty())
                        throw Fail{QStringLiteral("OnAlarm names no program")};
                } else if (key == QLatin1String("Collector")) {
                    config.Collector = value.trimmed();
                    if (config.Collector.isEmpty() || config.Collector.size() > 64)
                        throw Fail{QStringLiteral("Collector takes a name of 1 to 64 characters")};
                } else if (const std::optional<QString> why = EurdepCollectKey(config, key, value)) {
                    if (!why->isEmpty())
                        throw Fail{*why};
                } else if (key == QLatin1String("Site")) {
                    if (value.isEmpty())
                        throw Fail{QStringLiteral("Site takes a name")};
                    config.Site = value;
                } else if (setWatchKey(site, key, value, lineNumber)) {
                } else {
                    throw Fail{QStringLiteral("unknown key %1 in [collect] (Database, Metrics, OnAlarm, Collector, Site, StaleSeconds, StuckReadings)").arg(key)};
                }
                continue;
            }
            if (section.Kind == Section::Mqtt) {
                setMqttKey(*config.Mqtt, key, value, folder);
                continue;
            }

            TSiteInstallation &inst = config.Installations.last();
            const int lineKey = TComSettings::Keys().indexOf(key.toLatin1());
            if ((lineKey >= 0 && section.LineSettings) || (key == QLatin1String("LineSettings") && section.LineKeys))
                throw Fail{QStringLiteral("LineSettings and the nine line keys exclude each other")};
            if (lineKey >= 0) {
                section.LineKeys = true;
                setLineKey(inst.Settings, lineKey, value);
            } else if (key == QLatin1String("LineSettings")) {
                section.LineSettings = true;
                const QString path = QDir(folder).absoluteFilePath(value);
                if (!QFileInfo(path).isFile() || !inst.Settings.LoadSettings(path))
                    throw Fail{QStringLiteral("LineSettings: %1 cannot be read as line settings").arg(path)};
            } else if (key == QLatin1String("Device")) {
                const std::optional<int> v = wholeNumber(value, 1, 255);
                if (!v)
                    throw Fail{QStringLiteral("Device takes a station address from 1 to 255")};
                inst.Device = quint8(*v);
            } else if (key == QLatin1String("PollSeconds")) {
                const std::optional<int> v = wholeNumber(value, 1, 86400);
                if (!v)
                    throw Fail{QStringLiteral("PollSeconds takes whole seconds from 1 to 86400")};
                inst.PollSeconds = *v;
            } else if (key == QLatin1String("ArchiveSeconds")) {
                const std::optional<int> v = wholeNumber(value, 1, 7 * 86400);
                if (!v)
                    throw Fail{QStringLiteral("ArchiveSeconds takes whole seconds from 1 to 604800")};
                inst.ArchiveSeconds = *v;
            } else if (key == QLatin1String("Variables")) {
                inst.Columns = parseColumns(value);
            } else if (key == QLatin1String("Since")) {
                inst.Since = ParseCliTime(value);
                if (!inst.Since)
                    throw Fail{QStringLiteral("Since takes a local time YYYY-MM-DD[ HH:MM[:SS]]")};
            } else if (const std::optional<QString> why = EurdepInstallationKey(inst, key, value)) {
                if (!why->isEmpty())
                    throw Fail{*why};
            } else if (setWatchKey(watching.last(), key, value, lineNumber)) {
            } else {
                throw Fail{QStringLiteral("unknown key %1 in an installation section").arg(key)};
            }
        }
        lineNumber = 0;
        if (config.Site.isEmpty())
            config.Site = QHostInfo::localHostName();
        if (config.Mqtt) {
            TMqttSettings &m = *config.Mqtt;
            if (m.Host.isEmpty())
                throw Fail{QStringLiteral("the [mqtt] section names no Broker")};
            if (m.CertFile.isEmpty() != m.KeyFile.isEmpty())
                throw Fail{QStringLiteral("[mqtt] takes CertFile and KeyFile together")};
            if (!m.Tls && !(m.CaFile.isEmpty() && m.CertFile.isEmpty()))
                throw Fail{QStringLiteral("[mqtt] CAFile, CertFile and KeyFile are for an mqtts:// Broker")};
            if (m.ClientId.isEmpty())
                m.ClientId = QStringLiteral("kvarn-collect-") + QHostInfo::localHostName();
            if (m.Topic.isEmpty())
                m.Topic = QStringLiteral("kvarn/") + TopicLevel(config.Site);
        }
        // An installation's own StaleSeconds and StuckReadings, or those of
        // [collect]; stale at least two polls, by default three but 30 s.
        for (int i = 0; i < config.Installations.size(); ++i) {
            TSiteInstallation &inst = config.Installations[i];
            const Watching &own = watching[i];
            const Watching &from = own.StaleSeconds ? own : site;
            inst.StuckReadings = own.StuckReadings.value_or(site.StuckReadings.value_or(0));
            inst.StaleSeconds = from.StaleSeconds.value_or(std::max(3 * inst.PollSeconds, 30));
            if (from.StaleSeconds && *from.StaleSeconds < 2 * inst.PollSeconds) {
                lineNumber = from.StaleLine;
                throw Fail{QStringLiteral("StaleSeconds of \"%1\" is shorter than two polls (%2 s)")
                               .arg(inst.Name)
                               .arg(2 * inst.PollSeconds)};
            }
        }
        lineNumber = 0;
        if (config.Installations.isEmpty())
            throw Fail{QStringLiteral("no [installation NAME] section")};
        // Installations on one port share its line: one set of settings, distinct addresses.
        for (int i = 0; i < config.Installations.size(); ++i)
            for (int j = 0; j < i; ++j) {
                const TSiteInstallation &a = config.Installations[j];
                const TSiteInstallation &b = config.Installations[i];
                if (a.Settings.PortNumber != b.Settings.PortNumber)
                    continue;
                lineNumber = b.Line;
                if (a.Device == b.Device)
                    throw Fail{QStringLiteral("\"%1\" has the port and device of \"%2\"").arg(b.Name, a.Name)};
                if (!(a.Settings == b.Settings))
                    throw Fail{QStringLiteral("\"%1\" shares the port of \"%2\" with other line settings").arg(b.Name, a.Name)};
            }
    } catch (const Fail &fail) {
        *error = lineNumber > 0 ? QStringLiteral("%1:%2: %3").arg(fileName).arg(lineNumber).arg(fail.Why)
                                : QStringLiteral("%1: %2").arg(fileName, fail.Why);
        return std::nullopt;
    }
    return config;
}

QList<QList<int>> TSiteConfig::Lines() const
{
    QList<QList<int>> lines;
    QList<QByteArray> ports;
    for (int i = 0; i < Installations.size(); ++i) {
        const qsizetype at = ports.indexOf(Installations[i].Settings.PortNumber);
        if (at >= 0) {
            lines[at] << i;
        } else {
            ports << Installations[i].Settings.PortNumber;
            lines << QList<int>{i};
        }
    }
    return lines;
}
