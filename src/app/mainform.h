#pragma once
// The main window: tool bar, menu, the page control with the settings,
// spectra, archive and terminal pages, the status bar with the clock, and the
// command routine behind every button, menu item and the test-mode timer.
//
// Everything runs on the one user-interface thread; an exchange with the
// installation blocks the window until it ends. Message boxes and modal
// windows go through an OperatorPrompt.

#include "app/commands.h"
#include "app/settingsbinding.h"
#include "app/testmodepause.h"
#include "serial/rs232channel.h"
#include "store/sitestore.h"
#include "ui/operatorprompt.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <memory>

class QAction;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimeEdit;
class QMenuBar;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;

class TAboutForm;
class TArchiveParamSelector;
class TComPropertiesEditor;
class TDelayTimeWindow;
class TRadioGroup;
class WidgetPasswordAsker;
class TSiteWindow;
class TDeviceArchiveView;
class TReportDocument;
class TOpenProtocolDriver;
class TORMAK;
class TPasswords;
class TRS232Channel;
class TSpectrView;
class TTerminalListBox;
class TWaitWindow;
class TWaitWindow2Btn;

// How a window is set up besides its files: where its messages go, and for
// tests and tools the line in place of the one the port name selects.
struct TMainFormSetup {
    // Not owned; null: message boxes and dialogs on the screen.
    OperatorPrompt *Prompt = nullptr;
    // Asked at every opening of the port; null: the port name decides.
    TRS232Channel::LineFactory LineFactory;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Message boxes and modal windows go to the prompt (not owned); without
    // one the window shows them on the screen itself. The serial settings
    // come from "commport.cfg" (see TComSettingsFile), the pause and the passwords
    // from "kvarn.dtf" and "kvarn.pwd" in the working folder.
    explicit TMainForm(OperatorPrompt *prompt = nullptr, QWidget *parent = nullptr);
    explicit TMainForm(const TMainFormSetup &setup, QWidget *parent = nullptr);
    ~TMainForm() override;

    void SetPrompt(OperatorPrompt *prompt);
    OperatorPrompt &Prompt();

    // 0 idle, 1 reading from the installation, 2 writing to it (esIdle, ...).
    // While it is 1 the settings controls ignore their change events.
    quint8 ExchangeState = esIdle;
    bool TestMode = false;
    // Seconds between two polls of the test mode.
    qint32 TestModePause = kDefaultTestModePause;

    // Shows exactly the tabs the privilege text opens (see privileges.h).
    // Starts no exchange; when the active page goes, the tool bar is set
    // for the page that shows instead.
    void ApplyPrivileges(const QByteArray &privileges);
    // The installation's station address for every exchange; shown in the title.
    void ApplyDeviceNumber(quint8 number);
    quint8 DeviceNumber() const { return deviceNumber_; }

    // Runs one command. Whatever escapes it is reported as
    // "Ошибочное действие : <message>" and leaves the exchange state idle.
    void ExecuteCommand(TCommand command);

    void SetTestMode(bool on);
    // Sets the pause and the poll timer's interval; starts or stops nothing.
    void SetTestModePause(qint32 seconds);
    void LoadTestModePause();
    void SaveTestModePause();

    // The main page and the sub-pages now active.
    TPageSelection ActivePages() const;

    // The site window on a site database URL (sqlite:PATH, a bare path, or
    // postgresql://...); false when the URL is refused (the operator is told).
    // The URL is remembered in the user's settings.
    bool OpenSite(const QString &url);
    TSiteWindow *SiteWindow() const { return siteWindow_; }
    // Stored records of an installation into the archive page, as if read.
    void ShowStoredArchive(const QString &installation, const TSiteStore::Rows &rows);

    TTerminalListBox *Terminal() const { return CommTerminalLB; }
    TWaitWindow *WaitWindow = nullptr;
    TWaitWindow2Btn *WaitWindow2Btn = nullptr;

    // The pause dialog belongs to the application, which hands it over once
    // it is created; without one the window makes its own when first needed.
    void SetDelayTimeWindow(TDelayTimeWindow *window);
    TDelayTimeWindow *DelayTimeWindow();

    // What the window works with, for tests and tools.
    TRS232Channel *Channel() const { return SerialChannel.get(); }
    TOpenProtocolDriver *Driver() const { return ProtocolDriver.get(); }
    TORMAK *Installation() const { return Device.get(); }
    TPasswords *PasswordList() const { return Passwords.get(); }
    TAboutForm *About() const { return AboutForm.get(); }

    // Copy the variable lists into the controls of "Общее", "Измерение" and
    // "Служебное".
    void ShowCommonParams();
    void ShowCounterParams();
    void ShowServiceParams();
    // On/off panel: 0 on, 1 off. State panel: 0 sound, 1 fault, 2 running,
    // 3 stopped. Lamps: 0 green, 1 yellow, 2 red.
    void ShowOnOffState(int state, QLabel *panel);
    void ShowStatusState(int state, QLabel *panel);
    void ShowLampState(int state);

public slots:
    void ClockTimerTimer();
    // Handlers of the operator's page selections (not of changes the program makes).
    void MainPageControlChange();
    void Page1PageControlChange();
    void MenuItem1Click();

    void RequestButtonClick();
    void DispatchButtonClick();
    void TestModeButtonClick();
    void TestModeRequestTimerTimer();
    void ToolButton1Click();
    void ToolButton2Click();
    void N4Click();
    void N5Click();
    void N6Click();
    void N9Click();
    void N10Click();
    void N11Click();
    void RS2321Click();
    // "Изменить номер прибора" and "Настройки" -> "Номер прибора": a window
    // that chooses the device number (1..255), kept with the line settings.
    void ChooseDeviceNumber();

    // The one change handler of every operable settings control, told apart
    // by the sender's name. Ignored while reading; in the test mode it puts
    // the lists' values back over the edit.
    void AnyDataChanged(QObject *sender);

signals:
    // A command is about to run (it may still find it has nothing to do).
    void CommandStarted(TCommand command);

protected:
    void closeEvent(QCloseEvent *event) override;
    // The body of the command routine, without its guard.
    virtual void RunCommand(TCommand command);

private:
    // Page changes made by the program (start-up, privileges, commands) must
    // not run the handlers that belong to the operator's selections.
    class ProgramChange {
    public:
        explicit ProgramChange(TMainForm *form) : form_(form) { ++form_->programChanges_; }
        ~ProgramChange() { --form_->programChanges_; }
        ProgramChange(const ProgramChange &) = delete;
        ProgramChange &operator=(const ProgramChange &) = delete;

    private:
        TMainForm *form_;
    };

    void CreateControls();
    void CreateToolBar();
    void CreateMenu();
    void CreatePages();
    void CreateStatusBar();
    void CreateSettingsPages();
    void CreateCommonPage();
    void CreateCounterPage();
    void CreateServicePage();
    void ConnectSettingsControls();
    void FormCreate();
    void ArrangeControls();
    void FormClose(QCloseEvent *event);
    // File commands enabled, exchange buttons shown as the page asks.
    void ShowPageControls(int page);
    void ReportCommandFailure(const QString &message);

    void CmdReadSettingsPage(TCommand command);
    void CmdWriteSettings(TCommand command);
    void CmdToggleTestMode();
    void CmdTestPoll();
    void CmdReadSpectrum(TCommand command);
    // Spectrum files act on the view of the spectrum sub-page now active.
    void CmdLoadSpectrumFile();
    void CmdSaveSpectrumFile();
    TSpectrView *ActiveSpectrView() const;
    void CmdReadArchive();
    void CmdLoadArchiveFile();
    // "Файл" → "Площадка…": asks for the site database and opens its window.
    void AskSite();
    TSiteWindow *siteWindow_ = nullptr;
    QAction *SiteItem = nullptr;
    void CmdSaveArchiveFile();
    // The note beside the archive page until the next read or load; empty: none.
    void ShowArchiveNote(const QString &note);
    void CmdSetupSerialPort();
    // One line of the program's own on the terminal page, within its limit.
    void LogOnTerminal(const QByteArray &line);
    void CmdSetTestModePause();
    void CmdEnterPassword();
    void CmdAbout();
    // KOEFFICIENT "0": no counter, so "Измерение" cannot be shown or written;
    // the operator is told and taken to "Общее".
    void ReportCounterDetached();
    void WarnPortUnavailable();
    // A port that did not open, or whose line failed under an exchange (an
    // adapter pulled out and put back), is opened again before the next
    // exchange: once per command, so a port that stays away costs one try.
    void ReopenLineIfFailed();
    // Greys the values a failed read left (not current) and, while the test
    // mode polls only the activity, the flags beside it; the status bar says
    // which sub-pages hold old values.
    void ShowCurrentMarks();
    void MarkReadResult(TSettingsGroup group, bool ok);
    // "Записать в прибор" only while the sub-page shown holds read values.
    void EnableDispatchForShownSubPage();
    // A line of the window's own in the terminal page, kept within its limit.
    void LogTerminalLine(const QByteArray &line);
    // Reports of the active page (reportcommands.cpp): printed, previewed or
    // saved as PDF, the same pages each time.
    std::unique_ptr<TReportDocument> ActivePageReport();
    void PrintReport();
    void PreviewReport();
    void SaveReportPdf();
    // Where what a view shows came from: a file's name, or empty for a read
    // from the installation at that time.
    void NoteOrigin(QObject *view, const QString &fileName);
    QHash<QObject *, QString> origins_;
    // The serial number the last read of "Общее" brought, and from which
    // device number: a report takes it when its records carry none.
    QByteArray lastSerial_;
    int lastSerialDevice_ = 0;
    // The installation's record count when the archive shown was read from
    // it (0: loaded from a file).
    qint32 archiveTotal_ = 0;
    // Puts the lamp buttons and the output contact back as they were shown
    // before the operator's click (a write that could not go out).
    void RestoreCommonWriteControls();

    class ForwardingPrompt;
    std::unique_ptr<WidgetPrompt> ownPrompt_;
    OperatorPrompt *prompt_ = nullptr;
    // Hands everything to prompt_, whichever prompt that is by then: the
    // windows made at start-up keep this one.
    std::unique_ptr<OperatorPrompt> forwardingPrompt_;
    TRS232Channel::LineFactory lineFactory_;
    int programChanges_ = 0;
    quint8 deviceNumber_ = 1;
    // The groups read successfully at least once: until then their lists
    // hold no values of the installation, and a write would send blanks.
    TReadGroups readGroups_;
    // The groups whose last read failed: they show values that may be old.
    std::array<bool, 3> staleGroups_{};
    // What the lamp buttons (0 red .. 2 green) and the output contact showed
    // last; -1 none, as at start.
    int shownLampButton_ = -1;
    int shownDryContactOut_ = -1;

    // Owned for the whole run, created in FormCreate; released in the
    // reverse order (the variable set before the driver before the channel).
    std::unique_ptr<TRS232Channel> SerialChannel;
    std::unique_ptr<TComPropertiesEditor> SerialSettingsEditor;
    std::unique_ptr<TOpenProtocolDriver> ProtocolDriver;
    std::unique_ptr<TORMAK> Device;
    std::unique_ptr<WidgetPasswordAsker> PasswordAsker;
    std::unique_ptr<TPasswords> Passwords;
    // A child window of this one, created in FormCreate and kept hidden between uses.
    TArchiveParamSelector *ArchiveParamSelector = nullptr;
    // An archive read is running: it lets the window paint and answer its
    // wait window between records, and no other command may start then.
    bool archiveReadRunning_ = false;
    std::unique_ptr<TAboutForm> AboutForm;
    QPointer<TDelayTimeWindow> DelayTimeWindow_;
    std::unique_ptr<TDelayTimeWindow> ownDelayTimeWindow_;

    // Controls.
    QToolBar *MainToolBar = nullptr;
    QAction *ToolButton1 = nullptr;
    QAction *ToolButton2 = nullptr;
    QAction *ToolButton4 = nullptr;
    QAction *DispatchButton = nullptr;
    QAction *RequestButton = nullptr;
    QAction *TestModeButton = nullptr;

    QMenuBar *MainMenu1 = nullptr;
    QMenu *N1 = nullptr;
    QAction *N5 = nullptr;
    QAction *N6 = nullptr;
    QAction *PrintItem = nullptr;
    QAction *PreviewItem = nullptr;
    QAction *ReportPdfItem = nullptr;
    QAction *N3 = nullptr;
    QAction *N4 = nullptr;
    QMenu *RS2321 = nullptr;
    QAction *N7 = nullptr;
    QAction *N2 = nullptr;
    QAction *N9 = nullptr;
    QAction *N8 = nullptr;
    QAction *RS2322 = nullptr;
    QAction *N10 = nullptr;
    QAction *N11 = nullptr;

    QTabWidget *MainPageControl = nullptr;
    QWidget *TabSheet1 = nullptr;
    QTabWidget *Page1PageControl = nullptr;
    QWidget *TabSheet3 = nullptr;
    QWidget *TabSheet4 = nullptr;
    QWidget *TabSheet5 = nullptr;
    QWidget *TabSheet2 = nullptr;
    QTabWidget *SpectrPageControl = nullptr;
    QWidget *SpectrTabSheet1 = nullptr;
    QWidget *SpectrTabSheet2 = nullptr;
    QWidget *TabSheet6 = nullptr;
    QWidget *TabSheet8 = nullptr;
    TTerminalListBox *CommTerminalLB = nullptr;
    QMenu *TerminalPopupMenu = nullptr;
    QAction *MenuItem1 = nullptr;

    TSpectrView *MainSpectrView = nullptr;
    TSpectrView *BackgroundSpectrView = nullptr;
    TDeviceArchiveView *ArchiveView = nullptr;

    // "Общее"
    QLabel *Label1 = nullptr;
    QLabel *NumPanel = nullptr;
    QLabel *Label16 = nullptr;
    QLabel *ResourcePanel = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QPushButton *SireneBtn = nullptr;
    QLabel *SireneOnOffPanel = nullptr;
    QRadioButton *BASIndRB1 = nullptr;
    QRadioButton *BASIndRB2 = nullptr;
    QRadioButton *BASIndRB3 = nullptr;
    QLabel *RedPanel = nullptr;
    QLabel *YellowPanel = nullptr;
    QLabel *GreenPanel = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    TRadioGroup *DryContactIN = nullptr;
    TRadioGroup *DryContactOUT = nullptr;
    QGroupBox *GroupBox6 = nullptr;
    QLineEdit *DCLevelEdit = nullptr;
    QGroupBox *GroupBox7 = nullptr;
    QLabel *Label47 = nullptr;
    QDateEdit *DevDate = nullptr;
    QLabel *Label48 = nullptr;
    QTimeEdit *DevTime = nullptr;
    QPushButton *SynchroBtn = nullptr;
    QGroupBox *GroupBox11 = nullptr;
    QLabel *CommonModePanel = nullptr;
    // "Измерение"
    QGroupBox *GroupBox3 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Edit11 = nullptr;
    QGroupBox *GroupBox5 = nullptr;
    QLabel *StatusPanel1 = nullptr;
    QLabel *StatusPanel2 = nullptr;
    QLabel *StatusPanel3 = nullptr;
    QLabel *StatusPanel4 = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label10 = nullptr;
    QLabel *Label3 = nullptr;
    QGroupBox *GroupBox12 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Alarm1On1 = nullptr;
    QLineEdit *Edit13 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Alarm2On1 = nullptr;
    QLineEdit *Edit16 = nullptr;
    QLabel *Label18 = nullptr;
    QLabel *Label11 = nullptr;
    QLabel *ValuePanel1 = nullptr;
    QLabel *Label15 = nullptr;
    QLineEdit *Edit1DT = nullptr;
    // "Служебное"
    QLabel *Label17 = nullptr;
    QLineEdit *SelfFonEdit = nullptr;
    QPushButton *CopyToSelfFonBtn = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *MngEdit1 = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *MngEdit2 = nullptr;
    QLabel *Label12 = nullptr;
    QLineEdit *MngEdit3 = nullptr;
    QLabel *Label13 = nullptr;
    QLineEdit *MngEdit4 = nullptr;
    QLabel *Label14 = nullptr;
    QLineEdit *MngEdit5 = nullptr;

    QStatusBar *MainStatusBar = nullptr;
    QLabel *StatusBarPanel0 = nullptr; // the clock
    QLabel *StatusBarPanel1 = nullptr;
    QLabel *ArchiveNotePanel = nullptr; // e.g. a read the operator stopped
    QLabel *DeviceNumberPanel = nullptr; // "Прибор № N"
    QLabel *ReadNotePanel = nullptr;     // sub-pages whose last read failed
    QLabel *PollTimePanel = nullptr;     // beside the activity: the last answered poll

    QTimer *ClockTimer = nullptr;
    QTimer *TestModeRequestTimer = nullptr;
};
