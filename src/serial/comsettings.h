#pragma once
// The nine settings of the serial line and their file "commport.cfg".
//
// The seven line settings are free texts (code page 1251): the settings window
// lets the operator type anything, and every later use compares a text with
// the listed item texts exactly (case-sensitive, whole string). The two write
// time-out numbers have no control of their own.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The nine values as texts, in file order; the two integers as decimal text.
// Used to undo a cancelled settings window.
struct SettingsSnapshot {
    QByteArray PortNumber;
    QByteArray TransferRate;
    QByteArray StopBits;
    QByteArray Paritet;
    QByteArray LatencyPeriod;
    QByteArray DTRControl;
    QByteArray RTSControl;
    QByteArray WriteTimeOutMultiplier;
    QByteArray WriteTimeOutConstant;

    bool operator==(const SettingsSnapshot &) const = default;
};

class TComSettings {
public:
    // The listed items of the seven boxes, in list order.
    static const QList<QByteArray> &PortItems();          // "COM1".."COM4"
    static const QList<QByteArray> &TransferRateItems();  // "75 baud".."115200 baud"
    static const QList<QByteArray> &StopBitsItems();      // "1 bit", "1.5 bit", "2 bit"
    static const QList<QByteArray> &ParitetItems();       // "None", "Even", "Odd", "Mark", "Space"
    static const QList<QByteArray> &LatencyPeriodItems(); // the 18 reply-delay choices
    static const QList<QByteArray> &LineControlItems();   // "Disable", "Enable", "HandShake"

    // The file keys, in file order.
    static const QList<QByteArray> &Keys();

    // The default file name; a name without a folder lies in ProgramDir().
    static const char *const FileName; // "commport.cfg"

    // Starts with the window defaults.
    TComSettings();

    // Window defaults: "COM1", "9600 baud", "1 bit", "None",
    // "Approximately 0.25 second", "Disable", "Disable", 0, 0.
    void SetWindowDefaults();
    // Fallback defaults (unreadable file, empty snapshot value): as the window
    // defaults, but DTR and RTS "HandShake".
    void SetFallbackDefaults();

    // Reads the file: exactly nine lines, each "key=value"; see the .cpp for
    // every rule. False (and all nine settings at their fallback defaults)
    // when the file cannot be read or a write time-out is not a whole number.
    // keysFound, when given, gets how many of the nine keys the lines read
    // held (0: the file set nothing, and the settings are as they were).
    bool LoadSettings(const QString &fileName, int *keysFound = nullptr);
    // Writes the nine lines with CR LF through a temporary file renamed into
    // place: on failure the previous file stays whole and the result is false.
    bool SaveSettings(const QString &fileName) const;

    void GetSettings(SettingsSnapshot &snapshot) const;
    SettingsSnapshot GetSettings() const;
    // A non-empty text is taken unchanged (the integers from decimal text);
    // an empty text, or an integer text that is no 32-bit whole number, gives
    // that setting's fallback default.
    void SetSettings(const SettingsSnapshot &snapshot);

    // "commport.cfg" -> ProgramDir() + "commport.cfg"; names with a folder as given.
    static QString ResolvePath(const QString &fileName);

    QByteArray PortNumber;
    QByteArray TransferRate;
    QByteArray StopBits;
    QByteArray Paritet;
    QByteArray LatencyPeriod;
    QByteArray DTRControl;
    QByteArray RTSControl;
    qint32 WriteTimeOutMultiplier = 0;
    qint32 WriteTimeOutConstant = 0;
    // The installation's station address on the line (several installations
    // may share one RS-485 line). Kept in a tenth line "DeviceNumber=N" after
    // the nine, written only when it is not 1: readers that take nine lines
    // never see it, and a file without it means device 1.
    quint8 DeviceNumber = 1;
    static constexpr const char *DeviceNumberKey = "DeviceNumber";

    bool operator==(const TComSettings &) const = default;
};

// Where "commport.cfg" is read from and saved to.
//
// A program folder that can be written keeps its own file there, as a copy
// run from a USB stick or the build folder always has. An installed program
// lies in a folder the operator cannot write, where a save would be lost, so
// there the file is the user's own, in the per-user configuration folder:
// it is read from there once it exists (until then the file beside the
// program, if any, still gives the settings) and always saved there.
struct TComSettingsFile {
    QString ReadPath;
    QString SavePath;

    bool operator==(const TComSettingsFile &) const = default;

    // The rule above for a program folder, whether it can be written, and a
    // user folder.
    static TComSettingsFile Find(const QString &programDir, bool programDirWritable, const QString &userDir);
    // ProgramDir() as it is, and UserConfigDir().
    static TComSettingsFile Find();
    // $XDG_CONFIG_HOME/kvarn when that variable holds an absolute path, else
    // ~/.config/kvarn; no trailing separator.
    static QString UserConfigDir();
    // Whether a file can be created in the folder (permissions, a read-only
    // mount); a missing folder cannot take one.
    static bool FolderWritable(const QString &dir);

    // Saves to SavePath, creating its folder first when it is missing.
    bool Save(const TComSettings &settings) const;
};
