#include "serial/comsettings.h"

#include "base/savefile.h"
#include "base/textutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>
#include <optional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// A settings line is a few dozen bytes; a line longer than this is no
// settings line, and reading it to its end could exhaust memory.
constexpr qint64 MaxLineLength = 64 * 1024;
constexpr int LineCount = 9;

enum Key { kPort, kRate, kStop, kParity, kLatency, kDtr, kRts, kWriteMult, kWriteConst };

std::optional<qint32> ToInt32(const QByteArray &text)
{
    bool ok = false;
    const qint64 v = StrToIntDef(text, 0, &ok);
    if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(v);
}

// One line without its end (LF, CR LF or a lone CR). Past the end of the file
// the line is empty. False on a read error or an over-long line.
bool ReadOneLine(QFile &file, QByteArray &line)
{
    line.clear();
    char c = 0;
    while (file.getChar(&c)) {
        if (c == '\n')
            return true;
        if (c == '\r') {
            char next = 0;
            if (file.getChar(&next) && next != '\n')
                file.ungetChar(next);
            return true;
        }
        if (line.size() >= MaxLineLength)
            return false;
        line.append(c);
    }
    // getChar fails both at the end and on an error; only the error counts.
    return file.error() == QFileDevice::NoError;
}

} // namespace

const char *const TComSettings::FileName = "commport.cfg";

const QList<QByteArray> &TComSettings::PortItems()
{
    static const QList<QByteArray> items{"COM1", "COM2", "COM3", "COM4"};
    return items;
}

const QList<QByteArray> &TComSettings::TransferRateItems()
{
    static const QList<QByteArray> items{
        "75 baud",    "110 baud",   "134 baud",   "150 baud",   "300 baud",   "600 baud",
        "1200 baud",  "1800 baud",  "2400 baud",  "4800 baud",  "7200 baud",  "9600 baud",
        "14400 baud", "19200 baud", "38400 baud", "57600 baud", "115200 baud"};
    return items;
}

const QList<QByteArray> &TComSettings::StopBitsItems()
{
    static const QList<QByteArray> items{"1 bit", "1.5 bit", "2 bit"};
    return items;
}

const QList<QByteArray> &TComSettings::ParitetItems()
{
    static const QList<QByteArray> items{"None", "Even", "Odd", "Mark", "Space"};
    return items;
}

const QList<QByteArray> &TComSettings::LatencyPeriodItems()
{
    static const QList<QByteArray> items{
        "Immediately answer",
        "25 millisecond",
        "50 millisecond",
        "75 millisecond",
        "100 millisecond",
        "125 millisecond",
        "Approximately 0.25 second",
        "Approximately 0.5 second",
        "Approximately 0.75 second",
        "Approximately 1.25 seconds",
        "Approximately 2.5 seconds",
        "Approximately 5 seconds",
        "Approximately 7.5 seconds",
        "Approximately 10 seconds",
        "Approximately 12.5 seconds",
        "Approximately 15 seconds",
        "Approximately 17.5 seconds",
        "Approximately 20 seconds"};
    return items;
}

const QList<QByteArray> &TComSettings::LineControlItems()
{
    static const QList<QByteArray> items{"Disable", "Enable", "HandShake"};
    return items;
}

const QList<QByteArray> &TComSettings::Keys()
{
    static const QList<QByteArray> keys{"PortNumber", "TransferRate", "StopBits",
                                        "Paritet",    "LatencyPeriod", "DTRControl",
                                        "RTSControl", "WriteTimeOutMultiplier", "WriteTimeOutConstant"};
    return keys;
}

TComSettings::TComSettings()
{
    SetWindowDefaults();
}

void TComSettings::SetWindowDefaults()
{
    PortNumber = PortItems().at(0);
    TransferRate = TransferRateItems().at(11);
    StopBits = StopBitsItems().at(0);
    Paritet = ParitetItems().at(0);
    LatencyPeriod = LatencyPeriodItems().at(6);
    DTRControl = LineControlItems().at(0);
    RTSControl = LineControlItems().at(0);
    WriteTimeOutMultiplier = 0;
    WriteTimeOutConstant = 0;
    DeviceNumber = 1;
}

void TComSettings::SetFallbackDefaults()
{
    SetWindowDefaults();
    DTRControl = LineControlItems().at(2);
    RTSControl = LineControlItems().at(2);
}

QString TComSettings::ResolvePath(const QString &fileName)
{
    bool hasFolder = fileName.contains(QLatin1Char('/'));
#ifdef Q_OS_WIN
    hasFolder = hasFolder || fileName.contains(QLatin1Char('\\')) || fileName.contains(QLatin1Char(':'));
#endif
    return hasFolder ? fileName : ProgramDir() + fileName;
}

// Nine lines are read whatever they hold; lines after the ninth are never
// read, and a file with fewer lines reads as if the rest were empty. In each
// line the key is the text before the first "=" and the value everything
// after it, blanks and further "=" included. Keys match exactly; a repeated
// key takes its later value; a missing key leaves its setting as it was. A
// write time-out that is not a 32-bit whole number, a missing file or a read
// error put all nine settings to their fallback defaults.
bool TComSettings::LoadSettings(const QString &fileName, int *keysFound)
{
    QList<int> found;
    const QString path = ResolvePath(fileName);
    QFile file(path);
    TComSettings read = *this;
    // Only a plain file: a folder cannot be read, and opening a pipe could
    // wait for ever.
    bool ok = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
    for (int i = 0; ok && i < LineCount; ++i) {
        QByteArray line;
        if (!ReadOneLine(file, line)) {
            ok = false;
            break;
        }
        const int eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        const int keyIndex = int(Keys().indexOf(key));
        if (keyIndex >= 0 && !found.contains(keyIndex))
            found.append(keyIndex);
        switch (keyIndex) {
        case kPort: read.PortNumber = value; break;
        case kRate: read.TransferRate = value; break;
        case kStop: read.StopBits = value; break;
        case kParity: read.Paritet = value; break;
        case kLatency: read.LatencyPeriod = value; break;
        case kDtr: read.DTRControl = value; break;
        case kRts: read.RTSControl = value; break;
        case kWriteMult:
        case kWriteConst: {
            const std::optional<qint32> v = ToInt32(value);
            if (!v)
                ok = false;
            else if (key == Keys().at(kWriteMult))
                read.WriteTimeOutMultiplier = *v;
            else
                read.WriteTimeOutConstant = *v;
            break;
        }
        default: break;
        }
    }
    if (keysFound)
        *keysFound = ok ? int(found.size()) : 0;
    if (!ok) {
        SetFallbackDefaults();
        return false;
    }
    read.DeviceNumber = 1;
    QByteArray tenth;
    if (ReadOneLine(file, tenth) && tenth.startsWith(QByteArray(DeviceNumberKey) + '=')) {
        bool numberOk = false;
        const qint64 n = StrToIntDef(tenth.mid(qsizetype(qstrlen(DeviceNumberKey)) + 1), 0, &numberOk);
        if (numberOk && n >= 1 && n <= 255)
            read.DeviceNumber = quint8(n);
    }
    *this = read;
    return true;
}

bool TComSettings::SaveSettings(const QString &fileName) const
{
    const SettingsSnapshot s = GetSettings();
    const QByteArray *values[LineCount] = {&s.PortNumber, &s.TransferRate, &s.StopBits,
                                           &s.Paritet, &s.LatencyPeriod, &s.DTRControl,
                                           &s.RTSControl, &s.WriteTimeOutMultiplier,
                                           &s.WriteTimeOutConstant};
    QByteArray out;
    for (int i = 0; i < LineCount; ++i) {
        // A line break inside a value would shift every later line of the
        // file and read back as other settings: such a value is not written.
        if (values[i]->contains('\r') || values[i]->contains('\n'))
            return false;
        out += Keys().at(i) + '=' + *values[i] + "\r\n";
    }
    if (DeviceNumber != 1)
        out += QByteArray(DeviceNumberKey) + '=' + QByteArray::number(DeviceNumber) + "\r\n";
    return SaveFileAtomically(ResolvePath(fileName), out);
}

void TComSettings::GetSettings(SettingsSnapshot &snapshot) const
{
    snapshot.PortNumber = PortNumber;
    snapshot.TransferRate = TransferRate;
    snapshot.StopBits = StopBits;
    snapshot.Paritet = Paritet;
    snapshot.LatencyPeriod = LatencyPeriod;
    snapshot.DTRControl = DTRControl;
    snapshot.RTSControl = RTSControl;
    snapshot.WriteTimeOutMultiplier = QByteArray::number(WriteTimeOutMultiplier);
    snapshot.WriteTimeOutConstant = QByteArray::number(WriteTimeOutConstant);
}

SettingsSnapshot TComSettings::GetSettings() const
{
    SettingsSnapshot s;
    GetSettings(s);
    return s;
}

void TComSettings::SetSettings(const SettingsSnapshot &s)
{
    TComSettings fallback;
    fallback.SetFallbackDefaults();
    auto text = [](const QByteArray &v, const QByteArray &def) { return v.isEmpty() ? def : v; };
    PortNumber = text(s.PortNumber, fallback.PortNumber);
    TransferRate = text(s.TransferRate, fallback.TransferRate);
    StopBits = text(s.StopBits, fallback.StopBits);
    Paritet = text(s.Paritet, fallback.Paritet);
    LatencyPeriod = text(s.LatencyPeriod, fallback.LatencyPeriod);
    DTRControl = text(s.DTRControl, fallback.DTRControl);
    RTSControl = text(s.RTSControl, fallback.RTSControl);
    WriteTimeOutMultiplier = ToInt32(s.WriteTimeOutMultiplier).value_or(fallback.WriteTimeOutMultiplier);
    WriteTimeOutConstant = ToInt32(s.WriteTimeOutConstant).value_or(fallback.WriteTimeOutConstant);
}

TComSettingsFile TComSettingsFile::Find(const QString &programDir, bool programDirWritable, const QString &userDir)
{
    const QString besideProgram = QDir(programDir).filePath(QString::fromLatin1(TComSettings::FileName));
    if (programDirWritable)
        return {besideProgram, besideProgram};
    const QString own = QDir(userDir).filePath(QString::fromLatin1(TComSettings::FileName));
    return {QFileInfo::exists(own) ? own : besideProgram, own};
}

TComSettingsFile TComSettingsFile::Find()
{
    return Find(ProgramDir(), FolderWritable(ProgramDir()), UserConfigDir());
}

QString TComSettingsFile::UserConfigDir()
{
    // Relative values are to be ignored: they would depend on the folder the
    // program happens to be started from.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/kvarn"));
}

bool TComSettingsFile::FolderWritable(const QString &dir)
{
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return false;
#ifdef Q_OS_UNIX
    // access() asks the kernel, which also knows read-only mounts, ACLs and
    // root's rights; the mode bits alone tell none of these.
    return ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
#else
    return QFileInfo(dir).isWritable();
#endif
}

bool TComSettingsFile::Save(const TComSettings &settings) const
{
    const QString folder = QFileInfo(SavePath).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    return settings.SaveSettings(SavePath);
}
