#pragma once
// The main window: tool bar, menu, the page control with the settings,
// spectra, archive and terminal pages, the status bar with the clock, and the
// command routine behind every button, menu item and the test-mode timer.
//
// Everything runs on the one user-interface thread; an exchange with the
// installation blocks the window until it ends. Message boxes and modal
// windows go through an OperatorPrompt.

#include "app/commands.h"
#include "app/operatorprompt.h"
#include "app/testmodepause.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;

class TAboutForm;
class TArchiveParamSelector;
class TDeviceArchiveView;
class TOpenProtocolDriver;
class TORMAK;
class TPasswords;
class TRS232Channel;
class TSpectrView;
class TTerminalListBox;
class TWaitWindow;
class TWaitWindow2Btn;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Message boxes and modal windows go to the prompt (not owned); without
    // one the window shows them on the screen itself.
    explicit TMainForm(OperatorPrompt *prompt = nullptr, QWidget *parent = nullptr);
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

    TTerminalListBox *Terminal() const { return CommTerminalLB; }
    TWaitWindow *WaitWindow = nullptr;
    TWaitWindow2Btn *WaitWindow2Btn = nullptr;

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

signals:
    // A command is about to run (it may still find it has nothing to do).
    void CommandStarted(TCommand command);

protected:
    void closeEvent(QCloseEvent *event) override;
    // The body of the command routine, without its guard.
    virtual void RunCommand(TCommand command);

private:
    class ProgramChange;

    void CreateControls();
    void CreateToolBar();
    void CreateMenu();
    void CreatePages();
    void CreateStatusBar();
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
    void CmdReadArchive();

    std::unique_ptr<WidgetPrompt> ownPrompt_;
    OperatorPrompt *prompt_ = nullptr;
    int programChanges_ = 0;
    quint8 deviceNumber_ = 1;

    // Owned for the whole run; each is created in FormCreate once its part
    // of the program is in place.
    TRS232Channel *SerialChannel = nullptr;
    TOpenProtocolDriver *ProtocolDriver = nullptr;
    TORMAK *Device = nullptr;
    TPasswords *Passwords = nullptr;
    TArchiveParamSelector *ArchiveParamSelector = nullptr;
    TAboutForm *AboutForm = nullptr;

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

    QStatusBar *MainStatusBar = nullptr;
    QLabel *StatusBarPanel0 = nullptr; // the clock
    QLabel *StatusBarPanel1 = nullptr;

    QTimer *ClockTimer = nullptr;
    QTimer *TestModeRequestTimer = nullptr;
};
