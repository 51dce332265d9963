#include "sim/simoptions.h"

#include "base/cp1251.h"

namespace {

bool parseInt(const QString &text, qint64 low, qint64 high, qint64 &value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok && value >= low && value <= high;
}

} // namespace

QString SimHelpText()
{
    return QStringLiteral(
        "Usage: kvarn-sim (--link PATH | --tcp HOST:PORT) [options]\n"
        "       kvarn-sim --probe PATH [--device N]\n"
        "\n"
        "An emulator of the radiation-monitoring installation KVARN-T: answers the\n"
        "open protocol's request frames on a pseudo-terminal or a TCP port, so the\n"
        "service program can be run, tested and learnt without an installation.\n"
        "\n"
        "Line:\n"
        "  --link PATH        open a pseudo-terminal and put a symbolic link to it at\n"
        "                     PATH (a stale link there is replaced; the link is removed\n"
        "                     on exit). Point the program's PortNumber at PATH.\n"
        "  --tcp HOST:PORT    listen on HOST:PORT for one client (the program's\n"
        "                     \"socket://HOST:PORT\"); a new client replaces the old one.\n"
        "                     PORT 0 takes a free port; the port is printed at start.\n"
        "  --baud RATE        send replies at the pace of a serial line of RATE baud\n"
        "                     (ten bits per byte). Without it replies go out at once.\n"
        "  --reply-delay MS   answer every request MS ms late (0 to 600000; default 0):\n"
        "                     a slow installation or converter. Replies then keep\n"
        "                     their order: one that falls due while an earlier one\n"
        "                     is waiting goes out after it.\n"
        "  --device N         the installation's device number, 1 to 255 (default 1).\n"
        "                     Frames for other stations, or from a station other than\n"
        "                     0, get no reply.\n"
        "  --stations LIST    several installations on the one link, as on an RS-485\n"
        "                     line (comma-separated device numbers, e.g. 1,2,5;\n"
        "                     instead of --device). Each answers only its own address\n"
        "                     and has its own values and archive (the seed plus its\n"
        "                     place in the list) and the serial number 1046 + its\n"
        "                     device number; --set, --activity, --reply-delay and\n"
        "                     --fault apply to each, faults counting each station's\n"
        "                     own requests. Log lines carry the station: \"[5] <- ...\".\n"
        "\n"
        "Installation:\n"
        "  --seed N           seed of the measured values, archive and spectra\n"
        "                     (default 1): the same seed gives the same installation.\n"
        "  --records N        records in the archive, NUMOFRECORDS (default 300).\n"
        "                     Record n is read as NAME:Annn (A001, A042, A1000).\n"
        "  --block-size N     spectrum bytes per block reply, 1 to 253 (default 128:\n"
        "                     32 channels; 4096 bytes take 32 blocks, and a block reply\n"
        "                     of 141 bytes fits the shortest usual reply delay at 9600 baud).\n"
        "  --block-count N    answer N as the block count of both spectra; blocks past\n"
        "                     the data come without data.\n"
        "  --set NAME=VALUE   start with this value (repeatable). A setting takes it as\n"
        "                     its value; a measured or fixed variable (ACTIVITY, STATUS,\n"
        "                     ALARM1ON, ALARM2ON, DRYCONTACTIN, SERIALN, NUMOFRECORDS)\n"
        "                     answers it for good; DATETIME=\"dd/mm/yyyy hh.mm.ss\" sets\n"
        "                     the clock, which then runs, and the time of the newest\n"
        "                     archive record; RESOURCE sets the hours at start-up;\n"
        "                     VALUE @@ makes the variable answer \"@@\"; an unknown NAME\n"
        "                     becomes a variable. NAME:Annn=VALUE makes archive record\n"
        "                     n answer VALUE (or \"@@\") for NAME. The archive's records\n"
        "                     lie DURATIONTIME seconds apart (default 60), the newest at\n"
        "                     the start-up clock. Examples: --set KOEFFICIENT=0\n"
        "                     --set DURATIONTIME=10 --set SPECTRUM2=@@\n"
        "                     --set DATETIME:A0150=@@\n"
        "  --activity LIST    successive reads of ACTIVITY return these readings in\n"
        "                     turn (comma-separated, e.g. 10,10,20,20); the last one\n"
        "                     stays. ALARM1ON/ALARM2ON follow the reading that the next\n"
        "                     read of ACTIVITY returns.\n"
        "\n"
        "What the installation does: reads answer NAME=VALUE; and \"@@\" for a\n"
        "variable it does not know; writes store the value and echo it; a write to\n"
        "a measured or fixed variable, or of a value the variable cannot take (a flag\n"
        "other than 0 or 1, a threshold that is no number, a date that is no date),\n"
        "changes nothing and echoes the installation's own value. DATETIME runs on\n"
        "the installation's own clock; ACTIVITY takes a new value every DURATIONTIME\n"
        "seconds; RESOURCE grows by the hour. SPECTRUM1 and SPECTRUM2 answer ??## with\n"
        "##N and ??#j with block j (payload kind 1): 1024 little-endian 32-bit counts.\n"
        "\n"
        "Faults on cue (for tests):\n"
        "  --fault WHEN:KIND[:ARG[:ARG2]]   repeatable. WHEN counts the requests to the\n"
        "                     installation from 1: N, N-M, N- (from N on), or a comma\n"
        "                     list (1,4,7-9). The request is still carried out (a write\n"
        "                     is stored, a reading used up); only the reply suffers.\n"
        "                     Faults on one request combine. KIND is one of:\n"
        "    silent             no reply\n"
        "    bad-header         header checksum spoilt\n"
        "    bad-payload        payload checksum spoilt\n"
        "    wrong-sender[:A]   reply from station A (default device + 1)\n"
        "    wrong-receiver[:A] reply to station A (default the device number)\n"
        "    split:MS[:BYTES]   reply in two writes MS ms apart, BYTES in the first\n"
        "                       (default half)\n"
        "    double             the reply twice, back to back\n"
        "    garbage[:N]        N noise bytes before the reply (default 4)\n"
        "    delay:MS           MS ms of quiet before the reply (added to --reply-delay)\n"
        "    cut[:N]            the reply's last N bytes are never sent (default 1)\n"
        "    block-count-0      a block count reply says ##0\n"
        "    wrong-block        a block reply carries the next block's number\n"
        "    wrong-kind[:K]     a block reply of payload kind K (default 2)\n"
        "\n"
        "Output:\n"
        "  --log FILE         one line per request received (\"<- TEXT\") and per reply\n"
        "                     sent (\"-> TEXT\", or the payload in hexadecimal for a\n"
        "                     block), and \"!! \" notes on faults and ignored frames;\n"
        "                     each line is flushed at once. FILE - is standard output.\n"
        "  --probe PATH       be the other side: ask the installation at the serial\n"
        "                     line or pseudo-terminal PATH for a few values, print the\n"
        "                     exchange, and exit 0 when every request was answered.\n"
        "  --help             this text.\n"
        "\n"
        "SIGINT and SIGTERM end the emulator cleanly.\n");
}

QList<int> SimStations(const TSimOptions &options)
{
    return options.Stations.isEmpty() ? QList<int>{options.Device} : options.Stations;
}

bool ParseSimOptions(const QStringList &arguments, TSimOptions &options, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    options = TSimOptions();
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        const qsizetype eq = name.indexOf(u'=');
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= arguments.size())
                return false;
            value = arguments[++i];
            return true;
        };
        auto number = [&](qint64 low, qint64 high, qint64 &out) -> bool {
            if (!takeValue())
                return fail(QStringLiteral("%1 needs a value").arg(name));
            if (!parseInt(value, low, high, out))
                return fail(QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
                                .arg(name)
                                .arg(low)
                                .arg(high)
                                .arg(value));
            return true;
        };

        qint64 n = 0;
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            options.Help = true;
        } else if (name == QLatin1String("--device")) {
            if (!number(1, 255, n))
                return false;
            options.Device = int(n);
        } else if (name == QLatin1String("--stations")) {
            if (!takeValue() || value.isEmpty())
                return fail(QStringLiteral("--stations needs a list of device numbers"));
            for (const QString &part : value.split(u',')) {
                qint64 station = 0;
                if (!parseInt(part.trimmed(), 1, 255, station))
                    return fail(QStringLiteral("--stations takes device numbers from 1 to 255, not \"%1\"").arg(part));
                if (options.Stations.contains(int(station)))
                    return fail(QStringLiteral("--stations names %1 twice").arg(station));
                options.Stations << int(station);
            }
        } else if (name == QLatin1String("--baud")) {
            if (!number(50, 4000000, n))
                return false;
            options.Baud = int(n);
        } else if (name == QLatin1String("--reply-delay")) {
            if (!number(0, 600000, n))
                return false;
            options.ReplyDelay = int(n);
        } else if (name == QLatin1String("--seed")) {
            if (!number(0, Q_INT64_C(999999999999999999), n))
                return false;
            options.Seed = quint64(n);
        } else if (name == QLatin1String("--records")) {
            if (!number(0, 1000000, n))
                return false;
            options.Records = int(n);
        } else if (name == QLatin1String("--block-size")) {
            if (!number(1, 253, n))
                return false;
            options.BlockSize = int(n);
        } else if (name == QLatin1String("--block-count")) {
            if (!number(0, 100000, n))
                return false;
            options.BlockCount = int(n);
        } else if (name == QLatin1String("--link") || name == QLatin1String("--log")
                   || name == QLatin1String("--probe")) {
            if (!takeValue() || value.isEmpty())
                return fail(QStringLiteral("%1 needs a path").arg(name));
            (name == QLatin1String("--link") ? options.Link
             : name == QLatin1String("--log") ? options.LogFile
                                               : options.Probe) = value;
        } else if (name == QLatin1String("--tcp")) {
            if (!takeValue())
                return fail(QStringLiteral("--tcp needs HOST:PORT"));
            const qsizetype colon = value.lastIndexOf(u':');
            if (colon <= 0 || !parseInt(value.mid(colon + 1), 0, 65535, n))
                return fail(QStringLiteral("--tcp takes HOST:PORT, not \"%1\"").arg(value));
            options.TcpHost = value.left(colon);
            options.TcpPort = int(n);
        } else if (name == QLatin1String("--set")) {
            if (!takeValue())
                return fail(QStringLiteral("--set needs NAME=VALUE"));
            const qsizetype at = value.indexOf(u'=');
            if (at <= 0)
                return fail(QStringLiteral("--set takes NAME=VALUE, not \"%1\"").arg(value));
            options.Sets.append({ToCp1251(value.left(at)), ToCp1251(value.mid(at + 1))});
        } else if (name == QLatin1String("--activity")) {
            if (!takeValue() || value.isEmpty())
                return fail(QStringLiteral("--activity needs a list of readings"));
            for (const QString &r : value.split(u',')) {
                const QByteArray reading = ToCp1251(r.trimmed());
                if (reading.isEmpty() || reading.contains(';') || reading.contains(':'))
                    return fail(QStringLiteral("\"%1\" is no reading").arg(r));
                options.Activity.append(reading);
            }
        } else if (name == QLatin1String("--fault")) {
            if (!takeValue())
                return fail(QStringLiteral("--fault needs WHEN:KIND"));
            QString why;
            if (!options.Faults.Add(value, &why))
                return fail(why);
        } else {
            return fail(QStringLiteral("unknown option \"%1\" (see --help)").arg(arguments[i]));
        }
    }
    if (options.Help)
        return true;
    const int lines = int(!options.Link.isEmpty()) + int(options.TcpPort >= 0) + int(!options.Probe.isEmpty());
    if (lines == 0)
        return fail(QStringLiteral("give --link PATH or --tcp HOST:PORT (see --help)"));
    if (lines > 1)
        return fail(QStringLiteral("give only one of --link, --tcp and --probe"));
    if (!options.Stations.isEmpty() && (arguments.contains(QLatin1String("--device")) || !options.Probe.isEmpty()))
        return fail(QStringLiteral("--stations takes the place of --device and serves a link, not --probe"));
    return true;
}
