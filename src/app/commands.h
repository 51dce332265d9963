#pragma once
// The commands of the main window's command routine, the numbering of the
// window's pages, and which command each button and menu item starts on
// which page. Plain rules, no widgets.

#include <QMetaType>
#include <optional>

// Every piece of work the operator (or the test-mode poll) starts is one of these.
enum TCommand {
    cmdSetupSerialPort,
    cmdReadCommon,
    cmdReadCounter,
    cmdReadService,
    cmdWriteCommon,
    cmdWriteDevice,
    cmdWriteAlarmUnit,
    cmdWriteCounter,
    cmdWriteService,
    cmdToggleTestMode,
    cmdTestPoll,
    cmdReadSpectrum,
    cmdReadBackgroundSpectrum,
    cmdSetTestModePause,
    cmdLoadSpectrumFile,
    cmdSaveSpectrumFile,
    cmdEnterPassword,
    cmdReadArchive,
    cmdLoadArchiveFile,
    cmdSaveArchiveFile,
    cmdAbout,
    cmdExit,
};
constexpr int kCommandCount = cmdExit + 1;
Q_DECLARE_METATYPE(TCommand)

// The command's own name ("cmdReadCommon"), or "" for a value out of range.
const char *CommandName(TCommand command);

// Reads set the exchange state to "reading" whatever it was; writes run only
// from the idle state. The other commands leave the state alone.
bool IsReadCommand(TCommand command);
bool IsWriteCommand(TCommand command);

// Exchange state of the main window.
enum : quint8 { esIdle = 0, esReading = 1, esWriting = 2 };

// Pages of MainPageControl and of its two page controls, numbered from 1 as
// the privilege texts number them.
enum TMainPage { pgSettings = 1, pgSpectr = 2, pgArchive = 3, pgTerminal = 4 };
enum TSettingsSubPage { spCommon = 1, spCounter = 2, spService = 3 };
enum TSpectrSubPage { spMainSpectr = 1, spBackgroundSpectr = 2 };

// What is active in the window: the main page and the sub-page of each of the
// two page controls (whichever of them is on screen).
struct TPageSelection {
    int Page = pgSettings;
    int SettingsSubPage = spCommon;
    int SpectrSubPage = spMainSpectr;
};

// "Прочитать из прибора": reads the active settings sub-page, spectrum or the archive.
std::optional<TCommand> RequestCommand(const TPageSelection &selection);
// "Записать в прибор": writes the active settings sub-page; nothing elsewhere.
std::optional<TCommand> DispatchCommand(const TPageSelection &selection);
// "Прочитать из файла" / "Сохранить в файле" and their menu twins.
std::optional<TCommand> LoadFileCommand(const TPageSelection &selection);
std::optional<TCommand> SaveFileCommand(const TPageSelection &selection);
// The read that selecting a settings sub-page starts.
std::optional<TCommand> SettingsReadCommand(int settingsSubPage);

// How the tool bar and the file menu look on a main page the operator selected.
struct TPageControls {
    bool FileCommandsEnabled = false; // N5, N6, ToolButton1, ToolButton2
    bool ExchangeButtonsShown = false; // DispatchButton, RequestButton
    bool TestModeButtonShown = false;  // TestModeButton
    bool operator==(const TPageControls &) const = default;
};
TPageControls PageControls(int page);
