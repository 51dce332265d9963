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
#include <QProcess>
#include <QSet>
#include <QSysInfo>
#include <QStringDecoder>

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

struct Section {
    enum Kind { None, Collect, Installation } Kind = None;
    int Line = 0;
    QSet<QString> Keys;
    bool LineKeys = false;
    bool LineSettings = false;
};

} // namespace

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
                } else {
                    throw Fail{QStringLiteral("unknown section [%1] (only [collect] and [installation NAME])").arg(head)};
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
                } else {
                    throw Fail{QStringLiteral("unknown key %1 in [collect] (Database, Metrics, OnAlarm, Collector)").arg(key)};
                }
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
            } else {
                throw Fail{QStringLiteral("unknown key %1 in an installation section").arg(key)};
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
