// The main window as the operator meets it, read through its controls'
// names: captions and order, the tabs privileges open, what a page selection
// does to the tool bar, which command each control starts, the test mode,
// closing, the command guard, the terminal and the clock.

#include "app/clocktext.h"
#include "app/mainform.h"
#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "serial/memoryline.h"
#include "support/scriptedprompt.h"
#include "ui/radiogroup.h"
#include "views/devicearchiveview.h"
#include "views/spectrview.h"

#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>
#include <stdexcept>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

QList<TCommand> commandsOf(const QSignalSpy &spy)
{
    QList<TCommand> list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).value<TCommand>();
    return list;
}

QStringList visibleTabs(const QTabWidget *tabs)
{
    QStringList names;
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->isTabVisible(i))
            names << tabs->widget(i)->objectName();
    return names;
}

void clickTab(QTabWidget *tabs, int index)
{
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(index).center());
}

const QByteArray kEverything = "1-1;1-2;1-3;2-1;2-2;3;4;";

// A window whose command routine fails on cmdAbout as told.
class FailingForm : public TMainForm {
public:
    using TMainForm::TMainForm;
    std::function<void()> failure;

protected:
    void RunCommand(TCommand command) override
    {
        if (command == cmdAbout && failure)
            failure();
        TMainForm::RunCommand(command);
    }
};
} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowAndPages();
    void toolBarMenuAndStatusBar();
    void clockShowsTheTime();
    void privilegesDecideTheTabs_data();
    void privilegesDecideTheTabs();
    void operatorPageSelectionSetsTheToolBar_data();
    void operatorPageSelectionSetsTheToolBar();
    void privilegesKeepTheToolBarWithThePage();
    void settingsSubPageSelectionReads();
    void handlersChooseCommands_data();
    void handlersChooseCommands();
    void testModeOnAndOff();
    void closeAsksAndNoKeepsWorking();
    void commandGuardReportsFailures();
    void writesNeedIdleAndKnownValues();
    void terminal();
    void textsFitTheirControls();
    void pictures();

private:
    QTemporaryDir dir_;
    // An installation that never answers: every exchange fails at once.
    TMemoryLine line_;
    std::unique_ptr<ScriptedPrompt> prompt_;
    std::unique_ptr<TMainForm> form_;
    TMainFormSetup setup() { return TMainFormSetup{prompt_.get(), line_.Factory()}; }
    void expectDialogRejected() { prompt_->ExpectExec([](QDialog &) { return int(QDialog::Rejected); }); }
    TMainForm &form() { return *form_; }
    template <class T = QWidget>
    T *named(const char *name) { return form_->findChild<T *>(QLatin1String(name)); }
    QToolButton *button(const char *name) { return named<QToolButton>(name); }
    QAction *action(const char *name) { return named<QAction>(name); }
    QTabWidget *tabs(const char *name) { return named<QTabWidget>(name); }
    void showForm()
    {
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
    }
};

void TestMainForm::initTestCase()
{
    // The working folder holds "kvarn.dtf" (and would hold "kvarn.pwd"); the
    // program folder "commport.cfg".
    QVERIFY(dir_.isValid());
    QVERIFY(QDir::setCurrent(dir_.path()));
    SetProgramDir(dir_.path());
}

void TestMainForm::init()
{
    QFile::remove(QStringLiteral("kvarn.dtf"));
    prompt_ = std::make_unique<ScriptedPrompt>();
    form_ = std::make_unique<TMainForm>(setup());
}

void TestMainForm::cleanup()
{
    form_.reset();
    QVERIFY2(prompt_->Unexpected().isEmpty(), qPrintable(prompt_->Unexpected().join(u'\n')));
    QCOMPARE(prompt_->PendingAnswers(), 0);
}

void TestMainForm::windowAndPages()
{
    QCOMPARE(form().windowTitle(), u8("КВАРН-Т 1.1 - № 1"));
    QCOMPARE(form().minimumSize(), form().maximumSize());
    QVERIFY(form().width() >= 519 && form().height() - form().menuBar()->height() >= 381);
    QVERIFY(!(form().windowFlags() & Qt::WindowMaximizeButtonHint));

    QCOMPARE(form().centralWidget(), tabs("MainPageControl"));
    QCOMPARE(tabs("MainPageControl")->tabPosition(), QTabWidget::West);
    const struct {
        const char *control;
        QStringList pages, captions;
    } controls[] = {
        {"MainPageControl",
         {"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8"},
         {u8("Настройки установки"), u8("Спектр"), u8("Архив"), u8("Терминал")}},
        {"Page1PageControl", {"TabSheet3", "TabSheet4", "TabSheet5"}, {u8("Общее"), u8("Измерение"), u8("Служебное")}},
        {"SpectrPageControl", {"SpectrTabSheet1", "SpectrTabSheet2"}, {u8("Основной"), u8("Фоновый")}},
    };
    for (const auto &c : controls) {
        QTabWidget *t = tabs(c.control);
        QStringList pages, captions;
        for (int i = 0; i < t->count(); ++i)
            pages << t->widget(i)->objectName(), captions << t->tabText(i);
        QCOMPARE(pages, c.pages);
        QCOMPARE(captions, c.captions);
    }
    const char *contents[][2] = {{"Page1PageControl", "TabSheet1"},     {"SpectrPageControl", "TabSheet2"},
                                 {"MainSpectrView", "SpectrTabSheet1"}, {"BackgroundSpectrView", "SpectrTabSheet2"},
                                 {"ArchiveView", "TabSheet6"},          {"CommTerminalLB", "TabSheet8"}};
    for (const auto &[content, page] : contents)
        QCOMPARE(named(content)->parentWidget()->objectName(), QLatin1String(page));
    QVERIFY(qobject_cast<TSpectrView *>(named("BackgroundSpectrView")));
    QVERIFY(qobject_cast<TDeviceArchiveView *>(named("ArchiveView")));

    // At start, with no password list: "Настройки установки" / "Общее" only, idle.
    QCOMPARE(visibleTabs(tabs("MainPageControl")), QStringList{"TabSheet1"});
    QCOMPARE(visibleTabs(tabs("Page1PageControl")), QStringList{"TabSheet3"});
    QCOMPARE(form().ActivePages().Page, int(pgSettings));
    QCOMPARE(form().ExchangeState, quint8(esIdle));
    QVERIFY(!form().TestMode);
}

void TestMainForm::toolBarMenuAndStatusBar()
{
    showForm();
    QToolBar *bar = named<QToolBar>("MainToolBar");
    QCOMPARE(bar->height(), 26);
    // Buttons in order with their separators ("-"), hints, states, pictures.
    const QStringList order = {"ToolButton1", "ToolButton2", "-", "ToolButton4", "-", "DispatchButton", "-",
                               "RequestButton", "-", "TestModeButton"};
    const QStringList hints = {u8("Прочитать из файла"), u8("Сохранить в файле"), u8("Изменить номер прибора"),
                               u8("Записать в прибор"), u8("Прочитать из прибора"), u8("Вкл/Выкл тестовый режим")};
    const QList<bool> enabled = {false, false, true, false, true, true};
    QStringList actual;
    QList<QImage> pictures;
    for (QAction *a : bar->actions()) {
        if (a->isSeparator()) {
            actual << "-";
            continue;
        }
        auto *b = qobject_cast<QToolButton *>(bar->widgetForAction(a));
        actual << b->objectName();
        const int i = int(pictures.size());
        QCOMPARE(b->toolTip(), hints.value(i));
        QCOMPARE(b->isEnabled(), enabled.value(i));
        QVERIFY(b->isVisible() && b->autoRaise() && b->width() == 30);
        const QImage picture = b->icon().pixmap(16, 16).toImage();
        QVERIFY(!picture.isNull() && !pictures.contains(picture));
        pictures << picture;
    }
    QCOMPARE(actual, order);

    // Menus: two drop-downs, then two items that act when clicked.
    QStringList menu;
    for (QAction *a : form().menuBar()->actions()) {
        menu << a->text() + (a->menu() ? ":" + a->menu()->objectName() : ":" + a->objectName());
        if (QMenu *m = a->menu())
            for (QAction *item : m->actions())
                menu << "  " + item->objectName() + " " + item->text() + (item->isEnabled() ? "" : " (off)");
    }
    QCOMPARE(menu, (QStringList{u8("&Файл:N1"), u8("  N5 &Прочитать спектр (off)"), u8("  N6 &Сохранить спектр (off)"),
                                u8("  PrintItem Печать… (off)"), u8("  PreviewItem Предварительный просмотр… (off)"),
                                u8("  ReportPdfItem Сохранить отчёт в PDF… (off)"), u8("  SiteItem Площадка…"), "  N3 ", u8("  N4 &Выход"), u8("&Настройки:RS2321"), u8("  N7 &Номер прибора"), "  N2 ",
                                u8("  N9 &Пауза в тестовом режиме"), "  N8 ", u8("  RS2322 Н&астройки RS-232"),
                                u8("&Уровень доступа:N10"), u8("&О программе:N11")}));
    QVERIFY(action("N3")->isSeparator() && action("N2")->isSeparator() && action("N8")->isSeparator());
    QVERIFY(!action("N10")->isEnabled()); // no password list here
    QVERIFY(action("N11")->isEnabled());

    QCOMPARE(form().statusBar()->objectName(), u8("MainStatusBar"));
    QVERIFY(named<QLabel>("MainStatusBarPanel0")->width() >= 75);
    QCOMPARE(named<QLabel>("MainStatusBarPanel0")->alignment(), Qt::AlignCenter);
    QCOMPARE(named<QLabel>("MainStatusBarPanel1")->width(), 50);
    QVERIFY(named<QLabel>("MainStatusBarPanel1")->text().isEmpty());
    QVERIFY(named<QTimer>("ClockTimer")->isActive());
    QCOMPARE(named<QTimer>("ClockTimer")->interval(), 1000);
    QVERIFY(!named<QTimer>("TestModeRequestTimer")->isActive());
    QCOMPARE(named<QTimer>("TestModeRequestTimer")->interval(), 10000); // no "kvarn.dtf"
}

void TestMainForm::clockShowsTheTime()
{
    const QTime before = QTime::currentTime();
    form().ClockTimerTimer();
    const QString text = named<QLabel>("MainStatusBarPanel0")->text();
    const QTime shown = QLocale::system().toTime(text, ClockFormat(QLocale::system()));
    QVERIFY2(shown.isValid(), qPrintable(text));
    QVERIFY2((before.secsTo(shown) + 86400) % 86400 <= 2, qPrintable(text)); // a midnight in between wraps
}

void TestMainForm::privilegesDecideTheTabs_data()
{
    QTest::addColumn<QByteArray>("privileges");
    QTest::addColumn<QStringList>("shown"); // pages, then sub-pages
    QTest::newRow("everything") << kEverything
                                << QStringList{"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8", "TabSheet3",
                                               "TabSheet4", "TabSheet5", "SpectrTabSheet1", "SpectrTabSheet2"};
    QTest::newRow("2;") << QByteArray("2;") << QStringList{};
    QTest::newRow("1-7;") << QByteArray("1-7;") << QStringList{};
    QTest::newRow("5-1;") << QByteArray("5-1;") << QStringList{};
    QTest::newRow("x-2;") << QByteArray("x-2;") << QStringList{"TabSheet1", "TabSheet4"};
    QTest::newRow("3;4") << QByteArray("3;4") << QStringList{"TabSheet6", "TabSheet8"};
    QTest::newRow("2-2;") << QByteArray("2-2;") << QStringList{"TabSheet2", "SpectrTabSheet2"};
}

void TestMainForm::privilegesDecideTheTabs()
{
    QFETCH(QByteArray, privileges);
    QFETCH(QStringList, shown);
    showForm();
    form().ApplyPrivileges(kEverything); // so that hiding is tested too
    clickTab(tabs("MainPageControl"), 3);
    form().ApplyPrivileges(privileges);
    QCOMPARE(visibleTabs(tabs("MainPageControl")) + visibleTabs(tabs("Page1PageControl"))
                 + visibleTabs(tabs("SpectrPageControl")),
             shown);
    QCOMPARE(tabs("MainPageControl")->count(), 4); // hidden, not removed
    // What shows is a page the operator may see, or nothing at all.
    for (const char *page : {"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8"})
        QVERIFY2(!named(page)->isVisible() || shown.contains(QLatin1String(page)), page);
}

void TestMainForm::operatorPageSelectionSetsTheToolBar_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("fileCommands");
    QTest::addColumn<bool>("exchangeButtons");
    QTest::addColumn<bool>("testModeButton");
    // What the tool bar shows, separators as "-": never one at an end, nor two together.
    QTest::addColumn<QString>("shown");
    QTest::newRow("Спектр") << 1 << true << true << true << "12-4-D-R-T";
    QTest::newRow("Архив") << 2 << true << true << false << "12-4-D-R";
    QTest::newRow("Терминал") << 3 << false << false << false << "12-4";
}

void TestMainForm::operatorPageSelectionSetsTheToolBar()
{
    QFETCH(int, page);
    QFETCH(bool, fileCommands);
    QFETCH(bool, exchangeButtons);
    QFETCH(bool, testModeButton);
    QFETCH(QString, shown);
    showForm();
    form().ApplyPrivileges(kEverything);
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);
    auto toolBar = [this] {
        QToolBar *bar = named<QToolBar>("MainToolBar");
        QString seen;
        for (QAction *a : bar->actions()) {
            const QString name = a->isSeparator() ? QStringLiteral("-") : bar->widgetForAction(a)->objectName();
            if (a->isVisible())
                seen += name.startsWith(QLatin1String("ToolButton")) ? name.back() : name.front();
        }
        return seen;
    };

    auto check = [this](bool file, bool exchange, bool test) {
        for (const char *name : {"ToolButton1", "ToolButton2"})
            QVERIFY2(button(name)->isEnabled() == file, name);
        for (const char *name : {"N5", "N6"})
            QVERIFY2(action(name)->isEnabled() == file, name);
        for (const char *name : {"DispatchButton", "RequestButton"})
            QVERIFY2(button(name)->isVisible() == exchange, name);
        QCOMPARE(button("TestModeButton")->isVisible(), test);
    };
    clickTab(tabs("MainPageControl"), page);
    check(fileCommands, exchangeButtons, testModeButton);
    QCOMPARE(toolBar(), shown);
    clickTab(tabs("MainPageControl"), 0);
    check(false, true, true);
    QCOMPARE(toolBar(), QStringLiteral("12-4-D-R-T"));
    // Shown or hidden only: the enabled states are as before.
    QVERIFY(!button("DispatchButton")->isEnabled() && button("RequestButton")->isEnabled());
    QCOMPARE(commands.count(), 0); // a main page change reads nothing
}

void TestMainForm::privilegesKeepTheToolBarWithThePage()
{
    showForm();
    QTabWidget *main = tabs("MainPageControl");
    auto toolBarIsFor = [this](int page) {
        const TPageControls c = PageControls(page);
        return button("ToolButton1")->isEnabled() == c.FileCommandsEnabled
            && button("RequestButton")->isVisible() == c.ExchangeButtonsShown
            && button("TestModeButton")->isVisible() == c.TestModeButtonShown;
    };
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

    form().ApplyPrivileges(kEverything);
    clickTab(main, 1);
    form().ApplyPrivileges("2-1;4;"); // the page stays, so does the tool bar
    QVERIFY(main->currentIndex() == 1 && toolBarIsFor(pgSpectr));

    // The terminal's tab goes away under the operator: the tool bar follows
    // the page shown now, which needs its read button.
    form().ApplyPrivileges(kEverything);
    clickTab(main, 3);
    form().ApplyPrivileges("1-1;");
    QVERIFY(main->currentIndex() == 0 && toolBarIsFor(pgSettings));

    // Nothing left: nothing to press, and nothing runs.
    form().ApplyPrivileges("2;");
    QVERIFY(form().ActivePages().Page == 0 && toolBarIsFor(0));
    form().RequestButtonClick();
    form().ToolButton1Click();
    QCOMPARE(commands.count(), 0);
}

void TestMainForm::settingsSubPageSelectionReads()
{
    showForm();
    form().ApplyPrivileges("1-1;1-2;1-3;");
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);
    QTabWidget *sub = tabs("Page1PageControl");
    clickTab(sub, 1);
    clickTab(sub, 2);
    clickTab(sub, 0);
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdReadCounter, cmdReadService, cmdReadCommon}));

    // The program hiding the active sub-page is no selection of the operator's.
    commands.clear();
    form().ApplyPrivileges("1-2;");
    QVERIFY(sub->currentIndex() == 1 && commands.isEmpty());

    // In the test mode a sub-page is only looked at.
    form().ApplyPrivileges("1-1;1-2;1-3;");
    form().SetTestMode(true);
    commands.clear();
    clickTab(sub, 2);
    QVERIFY(sub->currentIndex() == 2 && commands.isEmpty());
}

void TestMainForm::handlersChooseCommands_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("subPage");
    QTest::addColumn<QByteArray>("handler");
    QTest::addColumn<int>("command"); // -1: nothing
    QTest::addColumn<bool>("dialog");  // a modal window comes (and is cancelled)
    const struct {
        int page, sub;
        const char *handler;
        int command;
    } rows[] = {
        {0, 0, "RequestButtonClick", cmdReadCommon},      {0, 1, "RequestButtonClick", cmdReadCounter},
        {0, 2, "RequestButtonClick", cmdReadService},     {1, 0, "RequestButtonClick", cmdReadSpectrum},
        {1, 1, "RequestButtonClick", cmdReadBackgroundSpectrum}, {2, 0, "RequestButtonClick", cmdReadArchive},
        {3, 0, "RequestButtonClick", -1},                 {0, 0, "DispatchButtonClick", cmdWriteCommon},
        {0, 1, "DispatchButtonClick", cmdWriteCounter},   {0, 2, "DispatchButtonClick", cmdWriteService},
        {1, 0, "DispatchButtonClick", -1},                {2, 0, "DispatchButtonClick", -1},
        {0, 0, "ToolButton1Click", -1},                   {1, 1, "N5Click", cmdLoadSpectrumFile},
        {2, 0, "ToolButton1Click", cmdLoadArchiveFile},   {3, 0, "N5Click", -1},
        {1, 0, "ToolButton2Click", cmdSaveSpectrumFile},  {2, 0, "N6Click", cmdSaveArchiveFile},
        {0, 0, "N9Click", cmdSetTestModePause},           {0, 0, "N10Click", cmdEnterPassword},
        {0, 0, "N11Click", cmdAbout},                     {0, 0, "RS2321Click", cmdSetupSerialPort},
        {0, 0, "TestModeRequestTimerTimer", cmdTestPoll},
    };
    for (const auto &r : rows)
        QTest::addRow("%s page %d.%d", r.handler, r.page + 1, r.sub + 1)
            << r.page << r.sub << QByteArray(r.handler) << r.command
            << (r.command == cmdSetTestModePause || r.command == cmdEnterPassword || r.command == cmdAbout
                || r.command == cmdSetupSerialPort);
}

void TestMainForm::handlersChooseCommands()
{
    QFETCH(int, page);
    QFETCH(int, subPage);
    QFETCH(QByteArray, handler);
    QFETCH(int, command);
    QFETCH(bool, dialog);
    if (dialog)
        expectDialogRejected();
    // The spectrum commands warn that the silent line gave no spectrum, or
    // ask for their file (cancelled).
    if (command == cmdReadSpectrum || command == cmdReadBackgroundSpectrum)
        prompt_->ExpectWarning();
    else if (command == cmdLoadSpectrumFile)
        prompt_->ExpectOpenFile(QString());
    else if (command == cmdSaveSpectrumFile)
        prompt_->ExpectSaveFile(QString());
    form().ApplyPrivileges(kEverything);
    tabs("MainPageControl")->setCurrentIndex(page);
    (page == 1 ? tabs("SpectrPageControl") : tabs("Page1PageControl"))->setCurrentIndex(subPage);
    // The archive page's commands ask the operator too: the read fails on
    // the silent line with its warning, and the file dialogs are cancelled.
    if (command == cmdReadArchive)
        prompt_->ExpectWarning();
    else if (command == cmdLoadArchiveFile)
        prompt_->ExpectOpenFile(QString());
    else if (command == cmdSaveArchiveFile)
        prompt_->ExpectSaveFile(QString());
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);
    QVERIFY(QMetaObject::invokeMethod(&form(), handler.constData()));
    // A write shows its result, and the lamp it sets asks for a write of
    // its own, which is dropped: nothing else may follow.
    QList<TCommand> started = commandsOf(commands);
    while (started.size() > 1 && IsWriteCommand(TCommand(command)) && IsWriteCommand(started.last()))
        started.removeLast();
    QCOMPARE(started, command < 0 ? QList<TCommand>{} : QList<TCommand>{TCommand(command)});
    QCOMPARE(form().ExchangeState, quint8(esIdle));

    // The controls reach their handlers.
    if (handler == "RequestButtonClick" && page == 0 && subPage == 0) {
        commands.clear();
        for (int i = 0; i < 3; ++i) // the line settings, then the device number twice
            expectDialogRejected();
        QTest::mouseClick(button("RequestButton"), Qt::LeftButton);
        action("RS2322")->trigger();
        action("N7")->trigger();
        QTest::mouseClick(button("ToolButton4"), Qt::LeftButton);
        QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdReadCommon, cmdSetupSerialPort}));
    }
}

void TestMainForm::testModeOnAndOff()
{
    QFile file(QStringLiteral("kvarn.dtf"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(" 30 \r\n") == 6);
    file.close();
    form_ = std::make_unique<TMainForm>(setup());
    QCOMPARE(form().TestModePause, 30);
    showForm();
    form().ApplyPrivileges("1-1;1-2;1-3;");
    clickTab(tabs("Page1PageControl"), 2); // "Служебное"
    QTimer *poll = named<QTimer>("TestModeRequestTimer");
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

    // On: "Измерение" is read, one poll at once, then the timer polls.
    QTest::mouseClick(button("TestModeButton"), Qt::LeftButton);
    QVERIFY(form().TestMode);
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdToggleTestMode, cmdReadCounter, cmdTestPoll}));
    QVERIFY(poll->isActive());
    QCOMPARE(poll->interval(), 30000);
    QVERIFY(!button("RequestButton")->isEnabled() && !button("DispatchButton")->isEnabled());
    commands.clear();
    form().SetTestMode(true); // already on: nothing
    QCOMPARE(commands.count(), 0);

    // Off: the timer stops and the current sub-page is read once.
    QTest::mouseClick(button("TestModeButton"), Qt::LeftButton);
    QVERIFY(!form().TestMode && !poll->isActive());
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdToggleTestMode, cmdReadService}));
    // The write button then follows that read, which fails here.
    QVERIFY(button("RequestButton")->isEnabled() && !button("DispatchButton")->isEnabled());
    QCOMPARE(form().ExchangeState, quint8(esIdle));
}

void TestMainForm::closeAsksAndNoKeepsWorking()
{
    showForm();
    quint8 stateDuringQuestion = 99;
    prompt_->ExpectConfirm(false, [&] { stateDuringQuestion = form().ExchangeState; });
    QVERIFY(!form().close());
    QCOMPARE(prompt_->Messages(), QStringList{u8("Вы действительно хотите покинуть программу?")});
    QCOMPARE(stateDuringQuestion, quint8(esReading));
    QCOMPARE(form().ExchangeState, quint8(esIdle));
    QVERIFY(form().isVisible());

    // A close declined in the middle of a read (while its wait window paints)
    // leaves that read's state, so its display still cannot write back.
    form().ExchangeState = esReading;
    prompt_->ExpectConfirm(false);
    QVERIFY(!form().close());
    QCOMPARE(form().ExchangeState, quint8(esReading));
    form().ExchangeState = esIdle;

    QSignalSpy commands(&form(), &TMainForm::CommandStarted);
    QTest::mouseClick(button("RequestButton"), Qt::LeftButton);
    QTest::mouseClick(button("TestModeButton"), Qt::LeftButton);
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdReadCommon, cmdToggleTestMode, cmdReadCounter, cmdTestPoll}));

    // "Выход" asks the same; Yes closes, and the poll stops with the window.
    prompt_->ExpectConfirm(true);
    action("N4")->trigger();
    QVERIFY(!form().isVisible());
    QVERIFY(!named<QTimer>("TestModeRequestTimer")->isActive());
    QCOMPARE(prompt_->Messages().size(), 3);
}

void TestMainForm::commandGuardReportsFailures()
{
    FailingForm failing(setup());
    const std::pair<std::function<void()>, QString> cases[] = {
        {[] { throw std::runtime_error("boom"); }, u8("Ошибочное действие : boom")},
        {[] { throw std::runtime_error(Cp("сбой линии").toStdString()); }, u8("Ошибочное действие : сбой линии")},
        {[] { throw 42; }, u8("Ошибочное действие : ")},
    };
    for (const auto &[failure, message] : cases) {
        prompt_->ClearLog();
        failing.failure = [&] {
            failing.ExchangeState = esWriting;
            failure();
        };
        prompt_->ExpectError();
        failing.N11Click();
        QCOMPARE(prompt_->Messages(ScriptedPrompt::Kind::Error), QStringList{message});
        QCOMPARE(failing.ExchangeState, quint8(esIdle));
    }
    failing.failure = nullptr; // the next command runs as usual
    expectDialogRejected();
    QSignalSpy commands(&failing, &TMainForm::CommandStarted);
    failing.N11Click();
    QCOMPARE(commandsOf(commands), QList<TCommand>{cmdAbout});
}

void TestMainForm::writesNeedIdleAndKnownValues()
{
    showForm();
    const int before = line_.WritesCount();
    // Nothing read yet: the siren and the output contact send nothing (the
    // rest of their group would go out blank) and show the values held.
    QTest::mouseClick(named<QPushButton>("SireneBtn"), Qt::LeftButton);
    QTest::mouseClick(named<TRadioGroup>("DryContactOUT")->Item(0), Qt::LeftButton);
    QCOMPARE(named<TRadioGroup>("DryContactOUT")->ItemIndex(), -1);
    QCOMPARE(named<QLabel>("SireneOnOffPanel")->text(), u8("ВЫКЛ"));
    QCOMPARE(line_.WritesCount(), before);

    // Writes asked for while a read runs are dropped without a message.
    form().ExchangeState = esReading;
    form().ExecuteCommand(cmdWriteCommon);
    form().ExecuteCommand(cmdWriteService);
    QCOMPARE(line_.WritesCount(), before);
    QCOMPARE(form().ExchangeState, quint8(esReading));
    form().ExchangeState = esIdle;
}

void TestMainForm::terminal()
{
    TTerminalListBox *lb = form().Terminal();
    QCOMPARE(lb, named<TTerminalListBox>("CommTerminalLB"));
    QCOMPARE(lb->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(QFontInfo(lb->font()).fixedPitch() && lb->font().pointSize() == 8);

    TerminalSink &sink = *lb;
    sink.DeleteFirstLine(); // empty: nothing happens
    // Code page 1251 as it comes; control characters keep the line one row.
    sink.AppendLine(Cp("-> DATETIME=??; Общее"));
    sink.AppendLine(QByteArray("<- A\r\nB\x00", 8));
    QCOMPARE(lb->item(0)->text(), u8("-> DATETIME=??; Общее"));
    QCOMPARE(lb->item(1)->text(), QString::fromUtf8("<- A\u240D\u240AB\u2400"));
    // Kept within its limit the way the driver keeps it: the oldest lines go.
    for (int i = 0; i < 8097 + 50; ++i) {
        while (sink.LineCount() >= 8097)
            sink.DeleteFirstLine();
        sink.AppendLine("line " + QByteArray::number(i));
    }
    QCOMPARE(sink.LineCount(), 8097);
    QCOMPARE(lb->item(0)->text(), QStringLiteral("line 50"));

    // The context menu's first item empties it (the log's items follow it).
    showForm();
    form().ApplyPrivileges("4;");
    QMenu *popup = named<QMenu>("TerminalPopupMenu");
    QCOMPARE(popup->actions().value(0), action("MenuItem1"));
    QCOMPARE(action("MenuItem1")->text(), u8("Очистить окно терминала"));
    const QPoint at = lb->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, lb->viewport()->mapToGlobal(at));
    QApplication::sendEvent(lb->viewport(), &event);
    QVERIFY(popup->isVisible());
    action("MenuItem1")->trigger();
    popup->hide();
    QCOMPARE(sink.LineCount(), 0);
}

void TestMainForm::textsFitTheirControls()
{
    showForm();
    form().ApplyPrivileges(kEverything);
    // Every tab whole: caption inside its tab, tabs inside their bar.
    const std::pair<const char *, int> controls[] = {
        {"MainPageControl", 0}, {"Page1PageControl", 0}, {"SpectrPageControl", 1}};
    for (const auto &[name, page] : controls) {
        clickTab(tabs("MainPageControl"), page);
        QTabBar *bar = tabs(name)->tabBar();
        for (int i = 0; i < bar->count(); ++i) {
            const QRect r = bar->tabRect(i);
            const int length = tabs(name)->tabPosition() == QTabWidget::West ? r.height() : r.width();
            QVERIFY2(bar->fontMetrics().horizontalAdvance(bar->tabText(i)) < length, qPrintable(bar->tabText(i)));
            QVERIFY2(bar->rect().contains(r), qPrintable(bar->tabText(i)));
        }
    }
    QLabel *clock = named<QLabel>("MainStatusBarPanel0");
    for (const QTime time : {QTime(23, 58, 58), QTime(10, 58, 58)})
        QVERIFY(clock->fontMetrics().horizontalAdvance(ClockText(time)) <= clock->contentsRect().width());
    for (QAction *a : form().menuBar()->actions())
        QVERIFY2(form().menuBar()->rect().contains(form().menuBar()->actionGeometry(a)), qPrintable(a->text()));
}

void TestMainForm::pictures()
{
    // With KVARN_GRAB_DIR set, the pages and wait windows are saved as PNG to look at.
    const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (out.isEmpty())
        QSKIP("KVARN_GRAB_DIR is not set");
    showForm();
    form().ApplyPrivileges(kEverything);
    for (int page = 0; page < 4; ++page) {
        clickTab(tabs("MainPageControl"), page);
        QVERIFY(form().grab().save(QStringLiteral("%1/mainform-page%2.png").arg(out).arg(page + 1)));
    }
    form().WaitWindow2Btn->ShowWait(u8("загрузка фонового спектра VIVUVO"));
    SetProgressPercent(form().WaitWindow2Btn->GlobalWaitProgressBar, 70);
    QVERIFY(form().WaitWindow2Btn->grab().save(out + QStringLiteral("/waitwindow2btn.png")));
    form().WaitWindow2Btn->hide();
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
