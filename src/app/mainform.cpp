#include "app/mainform.h"

#include "access/passwords.h"
#include "access/widgetpasswordasker.h"
#include "app/aboutform.h"
#include "app/clocktext.h"
#include "app/delaytimewindow.h"
#include "app/displaytexts.h"
#include "app/privileges.h"
#include "app/programfiles.h"
#include "app/settingsbinding.h"
#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "serial/compropertiesdialog.h"
#include "ui/fonts.h"
#include "ui/radiogroup.h"
#include "ui/toolbaricons.h"
#include "ui/u8.h"
#include "views/archiveparamselector.h"
#include "views/devicearchiveview.h"
#include "views/spectrview.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDateTime>
#include <QTimeEdit>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QLayout>
#include <QVBoxLayout>
#include <exception>

namespace {
// The design's client area at 96 pixels per inch, and its bars.
constexpr int kClientWidth = 519;
constexpr int kClientHeight = 381;
constexpr int kToolBarHeight = 26;
constexpr int kToolButtonWidth = 30;
constexpr int kStatusBarHeight = 19;
constexpr int kClockPanelWidth = 75;
constexpr int kSecondPanelWidth = 50;

QWidget *newPage(const char *name, QWidget *parent = nullptr)
{
    auto *page = new QWidget(parent);
    page->setObjectName(QLatin1String(name));
    return page;
}

// Content that fills its page.
void fill(QWidget *page, QWidget *content)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
}
} // namespace

// The prompt that the windows made at start-up keep: it passes everything
// on to the window's prompt of the moment.
class TMainForm::ForwardingPrompt : public OperatorPrompt {
public:
    explicit ForwardingPrompt(TMainForm *form) : form_(form) {}
    void Warning(const QString &text) override { form_->Prompt().Warning(text); }
    void Information(const QString &text) override { form_->Prompt().Information(text); }
    void Error(const QString &text) override { form_->Prompt().Error(text); }
    bool Confirm(const QString &text) override { return form_->Prompt().Confirm(text); }
    void Notice(const QString &text) override { form_->Prompt().Notice(text); }
    int Exec(QDialog &dialog) override { return form_->Prompt().Exec(dialog); }
    QString OpenFileName(const QString &filter, const QString &suffix) override
    {
        return form_->Prompt().OpenFileName(filter, suffix);
    }
    QString SaveFileName(const QString &filter, const QString &suffix) override
    {
        return form_->Prompt().SaveFileName(filter, suffix);
    }

private:
    TMainForm *form_;
};

TMainForm::TMainForm(OperatorPrompt *prompt, QWidget *parent) : TMainForm(TMainFormSetup{prompt, {}}, parent)
{
}

TMainForm::TMainForm(const TMainFormSetup &setup, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      forwardingPrompt_(std::make_unique<ForwardingPrompt>(this)), lineFactory_(setup.LineFactory)
{
    setObjectName(QStringLiteral("MainForm"));
    SetPrompt(setup.Prompt);
    CreateControls();
    FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::SetPrompt(OperatorPrompt *prompt)
{
    if (prompt) {
        prompt_ = prompt;
        return;
    }
    if (!ownPrompt_)
        ownPrompt_ = std::make_unique<WidgetPrompt>(this);
    prompt_ = ownPrompt_.get();
}

OperatorPrompt &TMainForm::Prompt()
{
    return *prompt_;
}

// --- construction -----------------------------------------------------------

void TMainForm::CreateControls()
{
    setFont(WindowFont());
    CreateToolBar();
    CreateMenu();
    CreatePages();
    CreateSettingsPages();
    CreateStatusBar();

    ClockTimer = new QTimer(this);
    ClockTimer->setObjectName(QStringLiteral("ClockTimer"));
    ClockTimer->setInterval(1000);
    connect(ClockTimer, &QTimer::timeout, this, &TMainForm::ClockTimerTimer);

    TestModeRequestTimer = new QTimer(this);
    TestModeRequestTimer->setObjectName(QStringLiteral("TestModeRequestTimer"));
    TestModeRequestTimer->setInterval(TestModeTimerInterval(TestModePause));
    connect(TestModeRequestTimer, &QTimer::timeout, this, &TMainForm::TestModeRequestTimerTimer);
}

void TMainForm::CreateToolBar()
{
    MainToolBar = new QToolBar(this);
    MainToolBar->setObjectName(QStringLiteral("MainToolBar"));
    MainToolBar->setMovable(false);
    MainToolBar->setFloatable(false);
    MainToolBar->setIconSize(QSize(16, 16));
    MainToolBar->setFixedHeight(kToolBarHeight);
    MainToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, MainToolBar);

    auto button = [this](const char *name, const char *hint, int icon, bool enabled, void (TMainForm::*handler)()) {
        auto *action = new QAction(MainToolBarIcon(icon), u8(hint), this);
        action->setToolTip(u8(hint));
        action->setEnabled(enabled);
        MainToolBar->addAction(action);
        QWidget *widget = MainToolBar->widgetForAction(action);
        widget->setObjectName(QLatin1String(name));
        widget->setFixedWidth(kToolButtonWidth);
        if (handler)
            connect(action, &QAction::triggered, this, handler);
        return action;
    };
    ToolButton1 = button("ToolButton1", "Прочитать из файла", 0, false, &TMainForm::ToolButton1Click);
    ToolButton2 = button("ToolButton2", "Сохранить в файле", 1, false, &TMainForm::ToolButton2Click);
    MainToolBar->addSeparator();
    ToolButton4 = button("ToolButton4", "Изменить номер прибора", 2, true, &TMainForm::ChooseDeviceNumber);
    MainToolBar->addSeparator();
    DispatchButton = button("DispatchButton", "Записать в прибор", 3, false, &TMainForm::DispatchButtonClick);
    MainToolBar->addSeparator();
    RequestButton = button("RequestButton", "Прочитать из прибора", 4, true, &TMainForm::RequestButtonClick);
    MainToolBar->addSeparator();
    TestModeButton = button("TestModeButton", "Вкл/Выкл тестовый режим", 5, true, &TMainForm::TestModeButtonClick);
}

void TMainForm::CreateMenu()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    auto item = [this](QMenu *menu, const char *name, const char *text, void (TMainForm::*handler)()) {
        QAction *action = menu->addAction(u8(text));
        action->setObjectName(QLatin1String(name));
        if (handler)
            connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto separator = [](QMenu *menu, const char *name) {
        QAction *action = menu->addSeparator();
        action->setObjectName(QLatin1String(name));
        return action;
    };

    N1 = MainMenu1->addMenu(u8("&Файл"));
    N1->setObjectName(QStringLiteral("N1"));
    N5 = item(N1, "N5", "&Прочитать спектр", &TMainForm::N5Click);
    N5->setEnabled(false);
    N6 = item(N1, "N6", "&Сохранить спектр", &TMainForm::N6Click);
    N6->setEnabled(false);
    PrintItem = item(N1, "PrintItem", "Печать…", &TMainForm::PrintReport);
    PreviewItem = item(N1, "PreviewItem", "Предварительный просмотр…", &TMainForm::PreviewReport);
    ReportPdfItem = item(N1, "ReportPdfItem", "Сохранить отчёт в PDF…", &TMainForm::SaveReportPdf);
    // Like the file items, on once the page shown has something to report.
    for (QAction *report : {PrintItem, PreviewItem, ReportPdfItem})
        report->setEnabled(false);
    SiteItem = item(N1, "SiteItem", "Площадка…", &TMainForm::AskSite);
    N3 = separator(N1, "N3");
    N4 = item(N1, "N4", "&Выход", &TMainForm::N4Click);

    RS2321 = MainMenu1->addMenu(u8("&Настройки"));
    RS2321->setObjectName(QStringLiteral("RS2321"));
    N7 = item(RS2321, "N7", "&Номер прибора", &TMainForm::ChooseDeviceNumber);
    N2 = separator(RS2321, "N2");
    N9 = item(RS2321, "N9", "&Пауза в тестовом режиме", &TMainForm::N9Click);
    N8 = separator(RS2321, "N8");
    RS2322 = item(RS2321, "RS2322", "Н&астройки RS-232", &TMainForm::RS2321Click);

    // Two menu bar items without sub-items: a click runs the command.
    N10 = MainMenu1->addAction(u8("&Уровень доступа"));
    N10->setObjectName(QStringLiteral("N10"));
    connect(N10, &QAction::triggered, this, &TMainForm::N10Click);
    N11 = MainMenu1->addAction(u8("&О программе"));
    N11->setObjectName(QStringLiteral("N11"));
    connect(N11, &QAction::triggered, this, &TMainForm::N11Click);
}

void TMainForm::CreatePages()
{
    MainPageControl = new QTabWidget(this);
    MainPageControl->setObjectName(QStringLiteral("MainPageControl"));
    MainPageControl->setTabPosition(QTabWidget::West);
    MainPageControl->setUsesScrollButtons(false);
    MainPageControl->setElideMode(Qt::ElideNone);
    setCentralWidget(MainPageControl);

    TabSheet1 = newPage("TabSheet1");
    Page1PageControl = new QTabWidget(TabSheet1);
    Page1PageControl->setObjectName(QStringLiteral("Page1PageControl"));
    Page1PageControl->setDocumentMode(true);
    Page1PageControl->setUsesScrollButtons(false);
    TabSheet3 = newPage("TabSheet3");
    TabSheet4 = newPage("TabSheet4");
    TabSheet5 = newPage("TabSheet5");
    Page1PageControl->addTab(TabSheet3, u8("Общее"));
    Page1PageControl->addTab(TabSheet4, u8("Измерение"));
    Page1PageControl->addTab(TabSheet5, u8("Служебное"));

    TabSheet2 = newPage("TabSheet2");
    SpectrPageControl = new QTabWidget(TabSheet2);
    SpectrPageControl->setObjectName(QStringLiteral("SpectrPageControl"));
    SpectrPageControl->setDocumentMode(true);
    SpectrPageControl->setUsesScrollButtons(false);
    SpectrTabSheet1 = newPage("SpectrTabSheet1");
    SpectrTabSheet2 = newPage("SpectrTabSheet2");
    SpectrPageControl->addTab(SpectrTabSheet1, u8("Основной"));
    SpectrPageControl->addTab(SpectrTabSheet2, u8("Фоновый"));

    TabSheet6 = newPage("TabSheet6");

    TabSheet8 = newPage("TabSheet8");
    CommTerminalLB = new TTerminalListBox(TabSheet8);
    CommTerminalLB->setObjectName(QStringLiteral("CommTerminalLB"));
    TerminalPopupMenu = new QMenu(CommTerminalLB);
    TerminalPopupMenu->setObjectName(QStringLiteral("TerminalPopupMenu"));
    MenuItem1 = TerminalPopupMenu->addAction(u8("Очистить окно терминала"));
    MenuItem1->setObjectName(QStringLiteral("MenuItem1"));
    connect(MenuItem1, &QAction::triggered, this, &TMainForm::MenuItem1Click);
    CommTerminalLB->AddLogItems(*TerminalPopupMenu, *forwardingPrompt_);
    connect(CommTerminalLB, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        TerminalPopupMenu->popup(CommTerminalLB->viewport()->mapToGlobal(pos));
    });

    MainPageControl->addTab(TabSheet1, u8("Настройки установки"));
    MainPageControl->addTab(TabSheet2, u8("Спектр"));
    MainPageControl->addTab(TabSheet6, u8("Архив"));
    MainPageControl->addTab(TabSheet8, u8("Терминал"));

    connect(MainPageControl, &QTabWidget::currentChanged, this, [this] {
        if (programChanges_ == 0)
            MainPageControlChange();
    });
    connect(Page1PageControl, &QTabWidget::currentChanged, this, [this] {
        if (programChanges_ == 0)
            Page1PageControlChange();
    });
}

void TMainForm::CreateStatusBar()
{
    MainStatusBar = new QStatusBar(this);
    MainStatusBar->setObjectName(QStringLiteral("MainStatusBar"));
    MainStatusBar->setSizeGripEnabled(false);
    setStatusBar(MainStatusBar);

    auto panel = [this](const char *name, int width, Qt::Alignment alignment) {
        auto *label = new QLabel(MainStatusBar);
        label->setObjectName(QLatin1String(name));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(alignment);
        label->setFixedWidth(width);
        MainStatusBar->addWidget(label);
        return label;
    };
    // Wide enough for the longest time of the locale's format.
    const QFontMetrics metrics(font());
    int clockWidth = kClockPanelWidth;
    for (const QTime t : {QTime(23, 58, 58), QTime(10, 58, 58)})
        clockWidth = qMax(clockWidth, metrics.horizontalAdvance(ClockText(t)) + 12);
    StatusBarPanel0 = panel("MainStatusBarPanel0", clockWidth, Qt::AlignCenter);
    StatusBarPanel1 = panel("MainStatusBarPanel1", kSecondPanelWidth, Qt::AlignLeft | Qt::AlignVCenter);
    // What the archive page holds when it is not what was asked for; shown
    // with that page only, and never widening the window.
    ArchiveNotePanel = new QLabel(MainStatusBar);
    ArchiveNotePanel->setObjectName(QStringLiteral("ArchiveNotePanel"));
    ArchiveNotePanel->setTextFormat(Qt::PlainText);
    ArchiveNotePanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    MainStatusBar->addWidget(ArchiveNotePanel, 1);
    ArchiveNotePanel->hide();
    // The installation every exchange goes to.
    DeviceNumberPanel = panel("DeviceNumberPanel", metrics.horizontalAdvance(u8("Прибор № 888")) + 12, Qt::AlignCenter);
    MainStatusBar->removeWidget(DeviceNumberPanel);
    MainStatusBar->insertWidget(2, DeviceNumberPanel);
    DeviceNumberPanel->show();
    // Sub-pages whose values a failed read left; shown with the settings page.
    ReadNotePanel = new QLabel(MainStatusBar);
    ReadNotePanel->setObjectName(QStringLiteral("ReadNotePanel"));
    ReadNotePanel->setTextFormat(Qt::PlainText);
    ReadNotePanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ReadNotePanel->setStyleSheet(QStringLiteral("color: #a00000"));
    MainStatusBar->addWidget(ReadNotePanel, 1);
    ReadNotePanel->hide();
    MainStatusBar->setFixedHeight(qMax(kStatusBarHeight, StatusBarPanel0->sizeHint().height() + 2));
}

void TMainForm::FormCreate()
{
    ProgramChange change(this);

    setWindowTitle(u8(kProgramTitle));
    LoadTestModePause();

    MainPageControl->setCurrentIndex(pgSpectr - 1);
    MainSpectrView = new TSpectrView(*forwardingPrompt_, SpectrTabSheet1);
    MainSpectrView->setObjectName(QStringLiteral("MainSpectrView"));
    BackgroundSpectrView = new TSpectrView(*forwardingPrompt_, SpectrTabSheet2);
    BackgroundSpectrView->setObjectName(QStringLiteral("BackgroundSpectrView"));
    MainSpectrView->SetBackgroundView(BackgroundSpectrView);
    MainSpectrView->EnablePeakItems();
    BackgroundSpectrView->EnablePeakItems();
    ArchiveView = new TDeviceArchiveView(TabSheet6);
    ArchiveView->setObjectName(QStringLiteral("ArchiveView"));
    ArchiveView->SetPrompt(forwardingPrompt_.get());

    ArrangeControls();

    CommonModePanel->setText(u8(kModeTexts[0]));

    // The line: "commport.cfg" beside the program, or the user's own where
    // the program's folder cannot be written (a file that does not load
    // leaves the defaults), then the port. Without a port the program runs
    // on; every exchange fails until the line is set up anew.
    SerialChannel = std::make_unique<TRS232Channel>();
    SerialSettingsEditor = std::make_unique<TComPropertiesEditor>(*forwardingPrompt_, this);
    if (lineFactory_)
        SerialChannel->SetLineFactory(lineFactory_);
    const QString settingsPath = TComSettings::ResolvePath(TComSettingsFile::Find().ReadPath);
    int settingsKeys = 0;
    if (SerialChannel->LoadSettings(settingsPath, &settingsKeys) && settingsKeys == 0)
        LogOnTerminal(Cp("Файл настроек линии ") + ToCp1251(settingsPath)
                      + Cp(" не задаёт ничего (в первых девяти строках нет ни одного ключа): действуют настройки "
                           "по умолчанию"));
    if (!SerialChannel->Open())
        WarnPortUnavailable();

    WaitWindow = new TWaitWindow(this);
    WaitWindow2Btn = new TWaitWindow2Btn(this);

    ProtocolDriver = std::make_unique<TOpenProtocolDriver>(SerialChannel.get());
    ProtocolDriver->SetTerminal(CommTerminalLB);
    ProtocolDriver->SetProgressBar(WaitWindow->WaitProgressBar);

    Device = std::make_unique<TORMAK>(ProtocolDriver.get());
    // Kept with the line settings; a file without it means device 1.
    ApplyDeviceNumber(SerialChannel->Settings().DeviceNumber);

    // The archive selection dialog with the archive lists of the variable set.
    ArchiveParamSelector = new TArchiveParamSelector(*forwardingPrompt_, this);
    ArchiveParamSelector->AssignVarLists(Device->ArchiveVars.get(), Device->ArchiveDescriptions.get(),
                                         Device->ArchiveShortVars.get());

    ExchangeState = esIdle;
    SetTestMode(false);
    DispatchButton->setEnabled(false);
    TestModeRequestTimer->stop();

    // The pickers start at the computer's clock; nothing is read at start.
    // Their change events would put the time into the empty clock value.
    const QDateTime now = QDateTime::currentDateTime();
    {
        const QSignalBlocker blockDate(DevDate), blockTime(DevTime);
        DevDate->setDate(now.date());
        DevTime->setTime(now.time());
    }

    MainPageControl->setCurrentIndex(pgSettings - 1);

    // Privileges: those of the empty password in "kvarn.pwd". Without a
    // password list everybody has the default, and the access level cannot
    // be changed.
    PasswordAsker = std::make_unique<WidgetPasswordAsker>(*forwardingPrompt_);
    Passwords = std::make_unique<TPasswords>(true, PasswordAsker.get());
    const bool listLoaded = Passwords->LoadPasswordsList(QLatin1String(kPasswordFile));
    if (Passwords->RefusedLines() > 0)
        LogOnTerminal(Cp("Список паролей: прочитаны первые ") + QByteArray::number(TPasswords::kMaxEntries)
                      + Cp(" строк, остальные ") + QByteArray::number(Passwords->RefusedLines()) + Cp(" не читаются"));
    N10->setEnabled(listLoaded);
    ApplyPrivileges(StartingPrivilege(*Passwords, listLoaded));

    AboutForm = std::make_unique<TAboutForm>();

    ClockTimerTimer();
    ClockTimer->start();
}

void TMainForm::ArrangeControls()
{
    fill(TabSheet1, Page1PageControl);
    fill(TabSheet2, SpectrPageControl);
    fill(SpectrTabSheet1, MainSpectrView);
    fill(SpectrTabSheet2, BackgroundSpectrView);
    fill(TabSheet6, ArchiveView);
    fill(TabSheet8, CommTerminalLB);

    // The design's size, or more where the texts need more room. The window
    // is not resizable.
    const int fixedBars = MainToolBar->height() + MainStatusBar->height();
    MainPageControl->setMinimumSize(
        QSize(kClientWidth, kClientHeight - fixedBars).expandedTo(MainPageControl->minimumSizeHint()));
    if (QLayout *l = layout())
        l->activate();
    setFixedSize(minimumSizeHint().expandedTo(sizeHint()));

    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
}

// --- access, device number, clock -------------------------------------------

void TMainForm::ApplyPrivileges(const QByteArray &privileges)
{
    ProgramChange change(this);
    const int pageBefore = ActivePages().Page;
    const int subPageBefore = ActivePages().SettingsSubPage;
    const TPageTabs tabs = TabsForPrivileges(privileges);
    for (int i = 0; i < 3; ++i)
        Page1PageControl->setTabVisible(i, tabs.SettingsSubPages[i]);
    for (int i = 0; i < 2; ++i)
        SpectrPageControl->setTabVisible(i, tabs.SpectrSubPages[i]);
    for (int i = 0; i < 4; ++i)
        MainPageControl->setTabVisible(i, tabs.Pages[i]);

    // When the page the operator was on has gone, the tool bar follows the
    // page that shows now; left as it was, it could keep the read button
    // hidden on a page that needs it, with no other tab to select.
    const int pageAfter = ActivePages().Page;
    if (pageAfter != pageBefore)
        ShowPageControls(pageAfter);
    // A settings sub-page that shows now without being read must not offer
    // to write what it holds.
    if (ActivePages().SettingsSubPage != subPageBefore)
        EnableDispatchForShownSubPage();
}

void TMainForm::ApplyDeviceNumber(quint8 number)
{
    deviceNumber_ = number;
    if (!Device) {
        setWindowTitle(u8(kProgramTitle));
        return;
    }
    Device->SetDeviceNumber(number);
    setWindowTitle(u8(kProgramTitle) + u8(" - № ") + QString::number(number));
    DeviceNumberPanel->setText(u8("Прибор № %1").arg(number));
    DeviceNumberPanel->setToolTip(u8("Номер прибора на линии; меняется в «Настройки» → «Номер прибора»"));
}

void TMainForm::ClockTimerTimer()
{
    StatusBarPanel0->setText(ClockText(QTime::currentTime()));
}

TPageSelection TMainForm::ActivePages() const
{
    // A page counts only while its tab is there (0: none).
    auto active = [](const QTabWidget *tabs) {
        const int i = tabs->currentIndex();
        return i >= 0 && tabs->isTabVisible(i) ? i + 1 : 0;
    };
    TPageSelection selection;
    selection.Page = active(MainPageControl);
    selection.SettingsSubPage = active(Page1PageControl);
    selection.SpectrSubPage = active(SpectrPageControl);
    return selection;
}

// --- page selection ----------------------------------------------------------

void TMainForm::MainPageControlChange()
{
    repaint();
    ShowPageControls(ActivePages().Page);
}

void TMainForm::ShowPageControls(int page)
{
    const TPageControls controls = PageControls(page);
    for (QAction *action : {N5, N6, ToolButton1, ToolButton2, PrintItem, PreviewItem, ReportPdfItem})
        action->setEnabled(controls.FileCommandsEnabled);
    DispatchButton->setVisible(controls.ExchangeButtonsShown);
    RequestButton->setVisible(controls.ExchangeButtonsShown);
    TestModeButton->setVisible(controls.TestModeButtonShown);
    TidyToolBarSeparators(*MainToolBar);
    ArchiveNotePanel->setVisible(page == pgArchive && !ArchiveNotePanel->text().isEmpty());
    ReadNotePanel->setVisible(page == pgSettings && !ReadNotePanel->text().isEmpty());
    // Buttons appear and go at once, not with the next layout pass.
    MainToolBar->layout()->activate();
}

void TMainForm::Page1PageControlChange()
{
    repaint();
    if (TestMode)
        return;
    if (const auto command = SettingsReadCommand(ActivePages().SettingsSubPage))
        ExecuteCommand(*command);
}

void TMainForm::MenuItem1Click()
{
    CommTerminalLB->clear();
}

// --- closing -----------------------------------------------------------------

void TMainForm::closeEvent(QCloseEvent *event)
{
    FormClose(event);
}

void TMainForm::FormClose(QCloseEvent *event)
{
    // Control changes are not handled while the question is open. A close
    // request can also arrive while a wait window paints, in the middle of an
    // exchange: "No" then gives back the state that exchange had, so the
    // display that follows it still cannot write back.
    const auto previous = ExchangeState;
    ExchangeState = esReading;
    if (Prompt().Confirm(u8("Вы действительно хотите покинуть программу?"))) {
        // Nothing more may reach the installation once the window is gone.
        TestModeRequestTimer->stop();
        ClockTimer->stop();
        event->accept();
        return;
    }
    ExchangeState = previous;
    event->ignore();
}

// --- handlers that choose a command -----------------------------------------

void TMainForm::RequestButtonClick()
{
    if (const auto command = RequestCommand(ActivePages()))
        ExecuteCommand(*command);
}

void TMainForm::DispatchButtonClick()
{
    if (const auto command = DispatchCommand(ActivePages()))
        ExecuteCommand(*command);
}

void TMainForm::TestModeButtonClick()
{
    SetTestMode(!TestMode);
}

void TMainForm::TestModeRequestTimerTimer()
{
    ExecuteCommand(cmdTestPoll);
}

void TMainForm::ToolButton1Click()
{
    if (const auto command = LoadFileCommand(ActivePages()))
        ExecuteCommand(*command);
}

void TMainForm::ToolButton2Click()
{
    if (const auto command = SaveFileCommand(ActivePages()))
        ExecuteCommand(*command);
}

void TMainForm::N4Click()
{
    ExecuteCommand(cmdExit);
}

void TMainForm::N5Click()
{
    ToolButton1Click();
}

void TMainForm::N6Click()
{
    ToolButton2Click();
}

void TMainForm::N9Click()
{
    ExecuteCommand(cmdSetTestModePause);
}

void TMainForm::N10Click()
{
    ExecuteCommand(cmdEnterPassword);
}

void TMainForm::N11Click()
{
    ExecuteCommand(cmdAbout);
}

void TMainForm::RS2321Click()
{
    ExecuteCommand(cmdSetupSerialPort);
}

// --- the command routine ------------------------------------------------------

void TMainForm::ExecuteCommand(TCommand command)
{
    // While the archive is read the program handles events between records;
    // nothing that arrives then (a timer's poll above all) may start an
    // exchange of its own in the middle of that read.
    if (archiveReadRunning_)
        return;
    try {
        RunCommand(command);
    } catch (const std::exception &e) {
        ReportCommandFailure(FromCp1251(QByteArray(e.what())));
    } catch (...) {
        ReportCommandFailure(QString());
    }
}

void TMainForm::ReportCommandFailure(const QString &message)
{
    Prompt().Error(u8("Ошибочное действие : ") + message);
    ExchangeState = esIdle;
}

void TMainForm::RunCommand(TCommand command)
{
    emit CommandStarted(command);
    if (IsReadCommand(command) || IsWriteCommand(command))
        ReopenLineIfFailed();
    switch (command) {
    case cmdReadCommon:
    case cmdReadCounter:
    case cmdReadService:
        CmdReadSettingsPage(command);
        break;
    case cmdWriteCommon:
    case cmdWriteDevice:
    case cmdWriteAlarmUnit:
    case cmdWriteCounter:
    case cmdWriteService:
        CmdWriteSettings(command);
        break;
    case cmdToggleTestMode:
        CmdToggleTestMode();
        break;
    case cmdTestPoll:
        CmdTestPoll();
        break;
    case cmdReadSpectrum:
    case cmdReadBackgroundSpectrum:
        CmdReadSpectrum(command);
        break;
    case cmdReadArchive:
        CmdReadArchive();
        break;
    case cmdExit:
        close();
        break;
    case cmdSetupSerialPort:
        CmdSetupSerialPort();
        break;
    case cmdSetTestModePause:
        CmdSetTestModePause();
        break;
    case cmdEnterPassword:
        CmdEnterPassword();
        break;
    case cmdAbout:
        CmdAbout();
        break;
    case cmdLoadSpectrumFile:
        CmdLoadSpectrumFile();
        break;
    case cmdSaveSpectrumFile:
        CmdSaveSpectrumFile();
        break;
    case cmdLoadArchiveFile:
        CmdLoadArchiveFile();
        break;
    case cmdSaveArchiveFile:
        CmdSaveArchiveFile();
        break;
    }
}
