// The main window as the operator meets it: its controls by name, the pages
// that privileges open, what selecting a page does to the tool bar, which
// command each button starts, the test mode, closing, the terminal and the
// clock.

#include "app/clocktext.h"
#include "app/mainform.h"
#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "protocol/cp1251.h"
#include "support/scriptedprompt.h"
#include "views/devicearchiveview.h"
#include "views/spectrview.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
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

template <class T>
T *named(const QObject &root, const char *name)
{
    return root.findChild<T *>(QLatin1String(name));
}

QList<TCommand> commandsOf(const QSignalSpy &spy)
{
    QList<TCommand> list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).value<TCommand>();
    return list;
}

// Which tabs of a page control are there for the operator, by page objectName.
QStringList visibleTabs(const QTabWidget *tabs)
{
    QStringList names;
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->isTabVisible(i))
            names << tabs->widget(i)->objectName();
    return names;
}

// The operator clicks a tab.
void clickTab(QTabWidget *tabs, int index)
{
    QTabBar *bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

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

    void titleAndFixedFrame();
    void pagesInOrder();
    void toolBarButtons();
    void menus();
    void statusBarAndTimers();
    void clockShowsTheTime();
    void startupShowsSettingsCommonOnly();
    void privilegesDecideTheTabs_data();
    void privilegesDecideTheTabs();
    void hiddenPagesShowNothing();
    void operatorPageSelectionSetsTheToolBar_data();
    void operatorPageSelectionSetsTheToolBar();
    void privilegesKeepTheToolBarWithThePage();
    void settingsSubPageSelectionReads();
    void handlersChooseCommands_data();
    void handlersChooseCommands();
    void controlsAreWiredToTheirHandlers();
    void testModeOnAndOff();
    void pauseFileSetsThePollInterval();
    void closeAsksAndNoKeepsWorking();
    void exitCommandClosesAfterYes();
    void commandGuardReportsFailures();
    void terminalListBox();
    void terminalContextMenuClears();
    void textsFitTheirControls();
    void pictures();

private:
    QTemporaryDir dir_;
    std::unique_ptr<ScriptedPrompt> prompt_;
    std::unique_ptr<TMainForm> form_;
    TMainForm &form() { return *form_; }
    QToolButton *button(const char *name) { return named<QToolButton>(form(), name); }
    QAction *action(const char *name) { return named<QAction>(form(), name); }
    QTabWidget *tabs(const char *name) { return named<QTabWidget>(form(), name); }
};

void TestMainForm::initTestCase()
{
    // "kvarn.dtf" and the other files of the working folder.
    QVERIFY(dir_.isValid());
    QVERIFY(QDir::setCurrent(dir_.path()));
}

void TestMainForm::init()
{
    QFile::remove(QStringLiteral("kvarn.dtf"));
    prompt_ = std::make_unique<ScriptedPrompt>();
    form_ = std::make_unique<TMainForm>(prompt_.get());
}

void TestMainForm::cleanup()
{
    form_.reset();
    QVERIFY2(prompt_->Unexpected().isEmpty(), qPrintable(prompt_->Unexpected().join(u'\n')));
    QCOMPARE(prompt_->PendingAnswers(), 0);
}

void TestMainForm::titleAndFixedFrame()
{
    QCOMPARE(form().windowTitle(), u8("КВАРН-Т 1.1 - № 1"));
    QCOMPARE(int(form().DeviceNumber()), 1);

    // Fixed, at least the design's client area under the menu.
    QCOMPARE(form().minimumSize(), form().maximumSize());
    QVERIFY(form().width() >= 519);
    QVERIFY(form().height() - form().menuBar()->sizeHint().height() >= 381);
    QVERIFY(!(form().windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form().windowFlags() & Qt::WindowMinimizeButtonHint);

    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    QCOMPARE(form().size(), form().minimumSize()); // the layout asks for no more than it has
}

void TestMainForm::pagesInOrder()
{
    QTabWidget *main = tabs("MainPageControl");
    QVERIFY(main);
    QCOMPARE(form().centralWidget(), main);
    QCOMPARE(main->tabPosition(), QTabWidget::West);

    const struct {
        const char *control;
        QStringList pages;
        QStringList captions;
    } expected[] = {
        {"MainPageControl",
         {"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8"},
         {u8("Настройки установки"), u8("Спектр"), u8("Архив"), u8("Терминал")}},
        {"Page1PageControl", {"TabSheet3", "TabSheet4", "TabSheet5"}, {u8("Общее"), u8("Измерение"), u8("Служебное")}},
        {"SpectrPageControl", {"SpectrTabSheet1", "SpectrTabSheet2"}, {u8("Основной"), u8("Фоновый")}},
    };
    for (const auto &e : expected) {
        QTabWidget *t = tabs(e.control);
        QVERIFY2(t, e.control);
        QCOMPARE(t->count(), e.pages.size());
        for (int i = 0; i < t->count(); ++i) {
            QCOMPARE(t->widget(i)->objectName(), e.pages[i]);
            QCOMPARE(t->tabText(i), e.captions[i]);
        }
    }

    // Page contents: the page controls, the views and the terminal.
    const struct {
        const char *content;
        const char *page;
    } contents[] = {
        {"Page1PageControl", "TabSheet1"},     {"SpectrPageControl", "TabSheet2"},
        {"MainSpectrView", "SpectrTabSheet1"}, {"BackgroundSpectrView", "SpectrTabSheet2"},
        {"ArchiveView", "TabSheet6"},          {"CommTerminalLB", "TabSheet8"},
    };
    for (const auto &c : contents) {
        QWidget *w = named<QWidget>(form(), c.content);
        QVERIFY2(w, c.content);
        QCOMPARE(w->parentWidget()->objectName(), QLatin1String(c.page));
    }
    QVERIFY(qobject_cast<TSpectrView *>(named<QWidget>(form(), "MainSpectrView")));
    QVERIFY(qobject_cast<TSpectrView *>(named<QWidget>(form(), "BackgroundSpectrView")));
    QVERIFY(qobject_cast<TDeviceArchiveView *>(named<QWidget>(form(), "ArchiveView")));
    QCOMPARE(form().Terminal(), named<TTerminalListBox>(form(), "CommTerminalLB"));
}

void TestMainForm::toolBarButtons()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    QToolBar *bar = named<QToolBar>(form(), "MainToolBar");
    QVERIFY(bar);
    QCOMPARE(bar->height(), 26);

    // Order, with the separators between them as designed ("" is a separator).
    const QStringList order = {"ToolButton1", "ToolButton2", "", "ToolButton4", "", "DispatchButton", "",
                               "RequestButton", "", "TestModeButton"};
    QStringList actual;
    for (QAction *a : bar->actions())
        actual << (a->isSeparator() ? QString() : bar->widgetForAction(a)->objectName());
    QCOMPARE(actual, order);

    const struct {
        const char *name;
        const char *hint;
        bool enabled;
    } buttons[] = {
        {"ToolButton1", "Прочитать из файла", false},     {"ToolButton2", "Сохранить в файле", false},
        {"ToolButton4", "Изменить номер прибора", true},  {"DispatchButton", "Записать в прибор", false},
        {"RequestButton", "Прочитать из прибора", true},  {"TestModeButton", "Вкл/Выкл тестовый режим", true},
    };
    QList<QImage> pictures;
    for (const auto &b : buttons) {
        QToolButton *w = button(b.name);
        QVERIFY2(w, b.name);
        QCOMPARE(w->toolTip(), u8(b.hint));
        QVERIFY2(w->isEnabled() == b.enabled, b.name);
        QVERIFY2(w->isVisible(), b.name);
        QVERIFY(w->autoRaise());
        QCOMPARE(w->width(), 30);
        const QImage picture = w->icon().pixmap(16, 16).toImage();
        QVERIFY2(!picture.isNull(), b.name);
        QVERIFY2(!pictures.contains(picture), b.name); // six different pictures
        pictures << picture;
    }
}

void TestMainForm::menus()
{
    QMenuBar *menu = named<QMenuBar>(form(), "MainMenu1");
    QVERIFY(menu);
    QCOMPARE(form().menuBar(), menu);

    // Top level: two menus, then two items that act on a click.
    const QList<QAction *> top = menu->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top[0]->menu(), named<QMenu>(form(), "N1"));
    QCOMPARE(top[0]->text(), u8("&Файл"));
    QCOMPARE(top[1]->menu(), named<QMenu>(form(), "RS2321"));
    QCOMPARE(top[1]->text(), u8("&Настройки"));
    QCOMPARE(top[2], action("N10"));
    QCOMPARE(top[2]->text(), u8("&Уровень доступа"));
    QVERIFY(!top[2]->menu());
    QCOMPARE(top[3], action("N11"));
    QCOMPARE(top[3]->text(), u8("&О программе"));
    QVERIFY(!top[3]->menu());

    const struct {
        const char *menu;
        QStringList names;
        QStringList texts; // "" for a separator
    } items[] = {
        {"N1", {"N5", "N6", "N3", "N4"}, {u8("&Прочитать спектр"), u8("&Сохранить спектр"), "", u8("&Выход")}},
        {"RS2321",
         {"N7", "N2", "N9", "N8", "RS2322"},
         {u8("&Номер прибора"), "", u8("&Пауза в тестовом режиме"), "", u8("Н&астройки RS-232")}},
    };
    for (const auto &m : items) {
        const QList<QAction *> list = named<QMenu>(form(), m.menu)->actions();
        QCOMPARE(list.size(), m.names.size());
        for (int i = 0; i < list.size(); ++i) {
            QCOMPARE(list[i]->objectName(), m.names[i]);
            QCOMPARE(list[i]->isSeparator(), m.texts[i].isEmpty());
            if (!m.texts[i].isEmpty())
                QCOMPARE(list[i]->text(), m.texts[i]);
        }
    }

    // Initially: nothing to load or save on the settings page; no password
    // list in this folder, so the access level cannot change.
    QVERIFY(!action("N5")->isEnabled());
    QVERIFY(!action("N6")->isEnabled());
    QVERIFY(action("N4")->isEnabled());
    QVERIFY(action("N9")->isEnabled());
    QVERIFY(action("RS2322")->isEnabled());
    QVERIFY(!action("N10")->isEnabled());
    QVERIFY(action("N11")->isEnabled());
}

void TestMainForm::statusBarAndTimers()
{
    QStatusBar *bar = named<QStatusBar>(form(), "MainStatusBar");
    QVERIFY(bar);
    QCOMPARE(form().statusBar(), bar);
    QLabel *clock = named<QLabel>(form(), "MainStatusBarPanel0");
    QLabel *second = named<QLabel>(form(), "MainStatusBarPanel1");
    QVERIFY(clock && second);
    QVERIFY(clock->width() >= 75);
    QCOMPARE(clock->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(second->width(), 50);
    QVERIFY(second->text().isEmpty());
    QVERIFY(bar->height() >= 19);

    QTimer *clockTimer = named<QTimer>(form(), "ClockTimer");
    QTimer *pollTimer = named<QTimer>(form(), "TestModeRequestTimer");
    QVERIFY(clockTimer && pollTimer);
    QVERIFY(clockTimer->isActive());
    QCOMPARE(clockTimer->interval(), 1000);
    QVERIFY(!pollTimer->isActive());
    QCOMPARE(pollTimer->interval(), 10000);
}

void TestMainForm::clockShowsTheTime()
{
    QLabel *clock = named<QLabel>(form(), "MainStatusBarPanel0");
    const QTime before = QTime::currentTime();
    form().ClockTimerTimer();
    const QString text = clock->text();
    const QTime shown = QLocale::system().toTime(text, ClockFormat(QLocale::system()));
    QVERIFY2(shown.isValid(), qPrintable(text));
    // Within the second it was read in (a midnight in between wraps).
    const int gap = (before.secsTo(shown) + 86400) % 86400;
    QVERIFY2(gap <= 2, qPrintable(text));
}

void TestMainForm::startupShowsSettingsCommonOnly()
{
    // No "kvarn.pwd" here: the default privileges.
    QCOMPARE(visibleTabs(tabs("MainPageControl")), QStringList{"TabSheet1"});
    QCOMPARE(visibleTabs(tabs("Page1PageControl")), QStringList{"TabSheet3"});
    QCOMPARE(visibleTabs(tabs("SpectrPageControl")), QStringList{});
    QCOMPARE(tabs("MainPageControl")->currentIndex(), 0);
    QCOMPARE(tabs("Page1PageControl")->currentIndex(), 0);
    QCOMPARE(form().ExchangeState, quint8(esIdle));
    QVERIFY(!form().TestMode);
}

void TestMainForm::privilegesDecideTheTabs_data()
{
    QTest::addColumn<QByteArray>("privileges");
    QTest::addColumn<QStringList>("pages");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("spectra");

    const QStringList all = {"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8"};
    QTest::newRow("everything") << QByteArray("1-1;1-2;1-3;2-1;2-2;3;4;") << all
                                << QStringList{"TabSheet3", "TabSheet4", "TabSheet5"}
                                << QStringList{"SpectrTabSheet1", "SpectrTabSheet2"};
    QTest::newRow("page with sub-pages, bare") << QByteArray("2;") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("sub-page out of range") << QByteArray("1-7;") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("page out of range") << QByteArray("5-1;") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("page not a number") << QByteArray("x-2;") << QStringList{"TabSheet1"} << QStringList{"TabSheet4"}
                                       << QStringList{};
    QTest::newRow("last entry without ;") << QByteArray("3;4") << QStringList{"TabSheet6", "TabSheet8"}
                                          << QStringList{} << QStringList{};
    QTest::newRow("background spectrum") << QByteArray("2-2;") << QStringList{"TabSheet2"} << QStringList{}
                                         << QStringList{"SpectrTabSheet2"};
}

void TestMainForm::privilegesDecideTheTabs()
{
    QFETCH(QByteArray, privileges);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, settings);
    QFETCH(QStringList, spectra);

    // Start from everything, so that hiding is tested as well as showing.
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    form().ApplyPrivileges(privileges);
    QCOMPARE(visibleTabs(tabs("MainPageControl")), pages);
    QCOMPARE(visibleTabs(tabs("Page1PageControl")), settings);
    QCOMPARE(visibleTabs(tabs("SpectrPageControl")), spectra);
    // The pages stay where they were: hidden, not removed.
    QCOMPARE(tabs("MainPageControl")->count(), 4);
}

void TestMainForm::hiddenPagesShowNothing()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    clickTab(tabs("MainPageControl"), 3);
    QVERIFY(form().Terminal()->isVisible());

    // Nothing left to see: no page content may stay on the screen.
    form().ApplyPrivileges("2;");
    for (const char *page : {"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8"})
        QVERIFY2(!named<QWidget>(form(), page)->isVisible(), page);

    // Only the archive: the archive is what shows.
    form().ApplyPrivileges("3;");
    QVERIFY(named<QWidget>(form(), "ArchiveView")->isVisible());
    QVERIFY(!form().Terminal()->isVisible());
}

void TestMainForm::operatorPageSelectionSetsTheToolBar_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("fileCommands");
    QTest::addColumn<bool>("exchangeButtons");
    QTest::addColumn<bool>("testModeButton");
    QTest::newRow("Спектр") << 1 << true << true << true;
    QTest::newRow("Архив") << 2 << true << true << false;
    QTest::newRow("Терминал") << 3 << false << false << false;
}

void TestMainForm::operatorPageSelectionSetsTheToolBar()
{
    QFETCH(int, page);
    QFETCH(bool, fileCommands);
    QFETCH(bool, exchangeButtons);
    QFETCH(bool, testModeButton);

    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

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
    QCOMPARE(tabs("MainPageControl")->currentIndex(), page);
    check(fileCommands, exchangeButtons, testModeButton);

    clickTab(tabs("MainPageControl"), 0);
    check(false, true, true);
    // Shown or hidden only: what was enabled is enabled again, and the other way round.
    QVERIFY(!button("DispatchButton")->isEnabled());
    QVERIFY(button("RequestButton")->isEnabled());
    QVERIFY(button("TestModeButton")->isEnabled());

    // Changing the main page starts no exchange.
    QCOMPARE(commands.count(), 0);
}

void TestMainForm::privilegesKeepTheToolBarWithThePage()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    QTabWidget *main = tabs("MainPageControl");
    auto toolBarIsFor = [this](int page) {
        const TPageControls c = PageControls(page);
        return button("ToolButton1")->isEnabled() == c.FileCommandsEnabled
            && action("N6")->isEnabled() == c.FileCommandsEnabled
            && button("RequestButton")->isVisible() == c.ExchangeButtonsShown
            && button("DispatchButton")->isVisible() == c.ExchangeButtonsShown
            && button("TestModeButton")->isVisible() == c.TestModeButtonShown;
    };
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

    // The page stays: so does the tool bar.
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    clickTab(main, 1); // "Спектр"
    form().ApplyPrivileges("2-1;4;");
    QCOMPARE(main->currentIndex(), 1);
    QVERIFY(toolBarIsFor(pgSpectr));

    // The terminal's tab goes away under the operator's feet: the tool bar
    // follows the page shown now, which must offer its read button.
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    clickTab(main, 3);
    QVERIFY(!button("RequestButton")->isVisible());
    form().ApplyPrivileges("1-1;");
    QCOMPARE(main->currentIndex(), 0);
    QVERIFY(toolBarIsFor(pgSettings));
    QVERIFY(button("RequestButton")->isVisible());

    // Nothing left: nothing to press, and nothing runs.
    form().ApplyPrivileges("2;");
    QCOMPARE(form().ActivePages().Page, 0);
    QVERIFY(toolBarIsFor(0));
    form().RequestButtonClick();
    form().DispatchButtonClick();
    form().ToolButton1Click();
    QCOMPARE(commands.count(), 0);
}

void TestMainForm::settingsSubPageSelectionReads()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;");
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

    QTabWidget *sub = tabs("Page1PageControl");
    clickTab(sub, 1);
    clickTab(sub, 2);
    clickTab(sub, 0);
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdReadCounter, cmdReadService, cmdReadCommon}));
    QCOMPARE(form().ExchangeState, quint8(esIdle));

    // Selecting a sub-page the program hides is no operator's selection.
    commands.clear();
    form().ApplyPrivileges("1-2;");
    QCOMPARE(sub->currentIndex(), 1);
    QCOMPARE(commands.count(), 0);

    // In the test mode a sub-page is only looked at.
    form().ApplyPrivileges("1-1;1-2;1-3;");
    form().SetTestMode(true);
    commands.clear();
    clickTab(sub, 2);
    clickTab(sub, 0);
    QCOMPARE(sub->currentIndex(), 0);
    QCOMPARE(commands.count(), 0);
}

void TestMainForm::handlersChooseCommands_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("subPage");
    QTest::addColumn<QByteArray>("handler");
    QTest::addColumn<int>("command"); // -1: nothing

    const struct {
        const char *row;
        int page, sub;
        const char *handler;
        int command;
    } rows[] = {
        {"read Общее", 0, 0, "RequestButtonClick", cmdReadCommon},
        {"read Измерение", 0, 1, "RequestButtonClick", cmdReadCounter},
        {"read Служебное", 0, 2, "RequestButtonClick", cmdReadService},
        {"read Основной", 1, 0, "RequestButtonClick", cmdReadSpectrum},
        {"read Фоновый", 1, 1, "RequestButtonClick", cmdReadBackgroundSpectrum},
        {"read Архив", 2, 0, "RequestButtonClick", cmdReadArchive},
        {"read Терминал", 3, 0, "RequestButtonClick", -1},
        {"write Общее", 0, 0, "DispatchButtonClick", cmdWriteCommon},
        {"write Измерение", 0, 1, "DispatchButtonClick", cmdWriteCounter},
        {"write Служебное", 0, 2, "DispatchButtonClick", cmdWriteService},
        {"write Спектр", 1, 0, "DispatchButtonClick", -1},
        {"write Архив", 2, 0, "DispatchButtonClick", -1},
        {"write Терминал", 3, 0, "DispatchButtonClick", -1},
        {"load on settings", 0, 0, "ToolButton1Click", -1},
        {"load Основной", 1, 0, "ToolButton1Click", cmdLoadSpectrumFile},
        {"load Фоновый", 1, 1, "N5Click", cmdLoadSpectrumFile},
        {"load Архив", 2, 0, "N5Click", cmdLoadArchiveFile},
        {"load Терминал", 3, 0, "N5Click", -1},
        {"save on settings", 0, 0, "N6Click", -1},
        {"save Спектр", 1, 0, "ToolButton2Click", cmdSaveSpectrumFile},
        {"save Архив", 2, 0, "ToolButton2Click", cmdSaveArchiveFile},
        {"save Архив (menu)", 2, 0, "N6Click", cmdSaveArchiveFile},
        {"pause", 0, 0, "N9Click", cmdSetTestModePause},
        {"password", 0, 0, "N10Click", cmdEnterPassword},
        {"about", 0, 0, "N11Click", cmdAbout},
        {"serial", 0, 0, "RS2321Click", cmdSetupSerialPort},
        {"poll", 0, 0, "TestModeRequestTimerTimer", cmdTestPoll},
    };
    for (const auto &r : rows)
        QTest::newRow(r.row) << r.page << r.sub << QByteArray(r.handler) << r.command;
}

void TestMainForm::handlersChooseCommands()
{
    QFETCH(int, page);
    QFETCH(int, subPage);
    QFETCH(QByteArray, handler);
    QFETCH(int, command);

    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    tabs("MainPageControl")->setCurrentIndex(page);
    (page == 1 ? tabs("SpectrPageControl") : tabs("Page1PageControl"))->setCurrentIndex(subPage);

    QSignalSpy commands(&form(), &TMainForm::CommandStarted);
    QVERIFY(QMetaObject::invokeMethod(&form(), handler.constData()));
    const QList<TCommand> expected = command < 0 ? QList<TCommand>{} : QList<TCommand>{TCommand(command)};
    QCOMPARE(commandsOf(commands), expected);
    QCOMPARE(form().ExchangeState, quint8(esIdle));
}

void TestMainForm::controlsAreWiredToTheirHandlers()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

    QTest::mouseClick(button("RequestButton"), Qt::LeftButton);
    clickTab(tabs("MainPageControl"), 1); // "Спектр" enables the file buttons
    QTest::mouseClick(button("ToolButton1"), Qt::LeftButton);
    QTest::mouseClick(button("ToolButton2"), Qt::LeftButton);
    action("N5")->trigger();
    action("N6")->trigger();
    action("N9")->trigger();
    action("N11")->trigger();
    action("RS2322")->trigger();
    // The device number is fixed: these change nothing.
    QTest::mouseClick(button("ToolButton4"), Qt::LeftButton);
    action("N7")->trigger();
    QCOMPARE(commandsOf(commands),
             (QList<TCommand>{cmdReadCommon, cmdLoadSpectrumFile, cmdSaveSpectrumFile, cmdLoadSpectrumFile,
                              cmdSaveSpectrumFile, cmdSetTestModePause, cmdAbout, cmdSetupSerialPort}));
    QCOMPARE(form().windowTitle(), u8("КВАРН-Т 1.1 - № 1"));
}

void TestMainForm::testModeOnAndOff()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;");
    clickTab(tabs("Page1PageControl"), 2); // "Служебное"
    QTimer *poll = named<QTimer>(form(), "TestModeRequestTimer");
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);

    // On: "Измерение" is read, one poll at once, then the timer polls.
    QTest::mouseClick(button("TestModeButton"), Qt::LeftButton);
    QVERIFY(form().TestMode);
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdToggleTestMode, cmdReadCounter, cmdTestPoll}));
    QVERIFY(poll->isActive());
    QCOMPARE(poll->interval(), form().TestModePause * 1000);
    QVERIFY(!button("RequestButton")->isEnabled());
    QVERIFY(!button("DispatchButton")->isEnabled());
    QCOMPARE(form().ExchangeState, quint8(esIdle));

    commands.clear();
    form().TestModeRequestTimerTimer();
    QCOMPARE(commandsOf(commands), QList<TCommand>{cmdTestPoll});

    // Asking for the mode it already has does nothing.
    commands.clear();
    form().SetTestMode(true);
    QCOMPARE(commands.count(), 0);

    // Off: the timer stops and the current sub-page is read once.
    QTest::mouseClick(button("TestModeButton"), Qt::LeftButton);
    QVERIFY(!form().TestMode);
    QVERIFY(!poll->isActive());
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdToggleTestMode, cmdReadService}));
    QVERIFY(button("RequestButton")->isEnabled());
    QVERIFY(button("DispatchButton")->isEnabled());
}

void TestMainForm::pauseFileSetsThePollInterval()
{
    const struct {
        QByteArray file;
        int pause;
        int interval;
    } cases[] = {
        {" 30 \r\n", 30, 30000},
        {"abc\r\n", 10, 10000},
        // A hand-edited 0 is kept as the pause, but the poll does not run wild.
        {"0\r\n", 0, 1000},
    };
    for (const auto &c : cases) {
        QFile file(QStringLiteral("kvarn.dtf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(c.file);
        file.close();
        TMainForm other(prompt_.get());
        QCOMPARE(other.TestModePause, c.pause);
        QCOMPARE(named<QTimer>(other, "TestModeRequestTimer")->interval(), c.interval);
    }

    form().SetTestModePause(25);
    form().SaveTestModePause();
    QFile file(QStringLiteral("kvarn.dtf"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("25\r\n"));
    QCOMPARE(named<QTimer>(form(), "TestModeRequestTimer")->interval(), 25000);
    QVERIFY(!named<QTimer>(form(), "TestModeRequestTimer")->isActive()); // setting it starts nothing
}

void TestMainForm::closeAsksAndNoKeepsWorking()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    quint8 stateDuringQuestion = 99;
    prompt_->ExpectConfirm(false, [&] { stateDuringQuestion = form().ExchangeState; });
    QVERIFY(!form().close());
    QCOMPARE(prompt_->Messages(), QStringList{u8("Вы действительно хотите покинуть программу?")});
    QCOMPARE(stateDuringQuestion, quint8(esReading));
    QCOMPARE(form().ExchangeState, quint8(esIdle));
    QVERIFY(form().isVisible());
    QVERIFY(named<QTimer>(form(), "ClockTimer")->isActive());

    // Everything still works.
    QSignalSpy commands(&form(), &TMainForm::CommandStarted);
    QTest::mouseClick(button("RequestButton"), Qt::LeftButton);
    QTest::mouseClick(button("TestModeButton"), Qt::LeftButton);
    QCOMPARE(commandsOf(commands), (QList<TCommand>{cmdReadCommon, cmdToggleTestMode, cmdReadCounter, cmdTestPoll}));

    // Closing in the test mode stops the poll with the window.
    prompt_->ExpectConfirm(true);
    QVERIFY(form().close());
    QVERIFY(!form().isVisible());
    QVERIFY(!named<QTimer>(form(), "TestModeRequestTimer")->isActive());
}

void TestMainForm::exitCommandClosesAfterYes()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    prompt_->ExpectConfirm(false);
    action("N4")->trigger();
    QVERIFY(form().isVisible());
    prompt_->ExpectConfirm(true);
    action("N4")->trigger();
    QVERIFY(!form().isVisible());
    QCOMPARE(prompt_->Messages().size(), 2);
}

void TestMainForm::commandGuardReportsFailures()
{
    FailingForm failing(prompt_.get());
    const struct {
        const char *row;
        std::function<void()> failure;
        QString message;
    } cases[] = {
        {"standard exception", [] { throw std::runtime_error("boom"); }, u8("Ошибочное действие : boom")},
        {"message in code page 1251",
         [] { throw std::runtime_error(Cp("сбой линии").toStdString()); },
         u8("Ошибочное действие : сбой линии")},
        {"empty message", [] { throw std::runtime_error(""); }, u8("Ошибочное действие : ")},
        {"anything else", [] { throw 42; }, u8("Ошибочное действие : ")},
    };
    for (const auto &c : cases) {
        prompt_->ClearLog();
        failing.failure = [&] {
            failing.ExchangeState = esWriting;
            c.failure();
        };
        prompt_->ExpectError();
        failing.N11Click();
        QVERIFY2(prompt_->Messages(ScriptedPrompt::Kind::Error) == QStringList{c.message}, c.row);
        QVERIFY2(failing.ExchangeState == esIdle, c.row);
    }

    // After a failure the next command runs as usual.
    failing.failure = nullptr;
    QSignalSpy commands(&failing, &TMainForm::CommandStarted);
    failing.N11Click();
    QCOMPARE(commandsOf(commands), QList<TCommand>{cmdAbout});
}

void TestMainForm::terminalListBox()
{
    TTerminalListBox *lb = form().Terminal();
    QCOMPARE(lb->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(QFontInfo(lb->font()).fixedPitch());
    QCOMPARE(lb->font().pointSize(), 8);

    TerminalSink &sink = *lb;
    sink.DeleteFirstLine(); // nothing there: nothing happens
    QCOMPARE(sink.LineCount(), 0);

    // Code page 1251 as it comes; control characters keep the line one row.
    sink.AppendLine(Cp("-> DATETIME=??; Общее"));
    sink.AppendLine(QByteArray("<- A\r\nB\x00", 8));
    QCOMPARE(sink.LineCount(), 2);
    QCOMPARE(lb->item(0)->text(), u8("-> DATETIME=??; Общее"));
    QCOMPARE(lb->item(1)->text(), QString::fromUtf8("<- A\u240D\u240AB\u2400"));

    sink.DeleteFirstLine();
    QCOMPARE(sink.LineCount(), 1);
    QCOMPARE(lb->item(0)->text().left(4), u8("<- A"));

    // Kept within a limit the way the driver keeps it: the oldest lines go.
    const int limit = 8097;
    for (int i = 0; i < limit + 50; ++i) {
        while (sink.LineCount() >= limit)
            sink.DeleteFirstLine();
        sink.AppendLine("line " + QByteArray::number(i));
    }
    QCOMPARE(sink.LineCount(), limit);
    QCOMPARE(lb->item(0)->text(), QStringLiteral("line 50"));
    QCOMPARE(lb->item(limit - 1)->text(), QStringLiteral("line 8146"));
}

void TestMainForm::terminalContextMenuClears()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("4;");
    TTerminalListBox *lb = form().Terminal();
    QVERIFY(lb->isVisible());
    for (int i = 0; i < 5; ++i)
        lb->AppendLine("x");

    QMenu *popup = named<QMenu>(form(), "TerminalPopupMenu");
    QVERIFY(popup);
    QCOMPARE(popup->actions().size(), 1);
    QCOMPARE(popup->actions().at(0), action("MenuItem1"));
    QCOMPARE(action("MenuItem1")->text(), u8("Очистить окно терминала"));

    const QPoint at = lb->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, lb->viewport()->mapToGlobal(at));
    QApplication::sendEvent(lb->viewport(), &event);
    QVERIFY(popup->isVisible());
    action("MenuItem1")->trigger();
    popup->hide();
    QCOMPARE(lb->LineCount(), 0);
}

void TestMainForm::textsFitTheirControls()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");

    // Every tab is whole: its caption fits, and the tabs fit their bar.
    const struct {
        const char *name;
        int page;
    } controls[] = {{"MainPageControl", 0}, {"Page1PageControl", 0}, {"SpectrPageControl", 1}};
    for (const auto &[name, page] : controls) {
        clickTab(tabs("MainPageControl"), page);
        QTabWidget *t = tabs(name);
        QTabBar *bar = t->tabBar();
        const bool vertical = t->tabPosition() == QTabWidget::West;
        const QFontMetrics metrics(bar->font());
        for (int i = 0; i < bar->count(); ++i) {
            const QRect r = bar->tabRect(i);
            const int length = vertical ? r.height() : r.width();
            QVERIFY2(metrics.horizontalAdvance(bar->tabText(i).remove(u'&')) < length, qPrintable(bar->tabText(i)));
            QVERIFY2(bar->rect().contains(r), qPrintable(bar->tabText(i)));
        }
        QVERIFY2(t->rect().contains(QRect(bar->mapTo(t, QPoint(0, 0)), bar->size())), name);
    }

    // The clock, at its widest.
    QLabel *clock = named<QLabel>(form(), "MainStatusBarPanel0");
    for (const QTime time : {QTime(23, 58, 58), QTime(10, 58, 58)})
        QVERIFY(clock->fontMetrics().horizontalAdvance(ClockText(time)) <= clock->contentsRect().width());

    // The menu bar holds all four items in one row.
    QMenuBar *menu = form().menuBar();
    for (QAction *a : menu->actions())
        QVERIFY2(menu->rect().contains(menu->actionGeometry(a)), qPrintable(a->text()));
}

void TestMainForm::pictures()
{
    // With KVARN_GRAB_DIR set, every page is saved as a picture to look at.
    const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (out.isEmpty())
        QSKIP("KVARN_GRAB_DIR is not set");
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
    form().ApplyPrivileges("1-1;1-2;1-3;2-1;2-2;3;4;");
    for (int page = 0; page < 4; ++page) {
        clickTab(tabs("MainPageControl"), page);
        QVERIFY(form().grab().save(QStringLiteral("%1/mainform-page%2.png").arg(out).arg(page + 1)));
    }
    form().WaitWindow->ShowWait(u8("загрузка фонового спектра VIVUVO"));
    SetProgressPercent(form().WaitWindow->WaitProgressBar, 40);
    QVERIFY(form().WaitWindow->grab().save(out + QStringLiteral("/waitwindow.png")));
    form().WaitWindow->hide();
    form().WaitWindow2Btn->ShowWait(u8("загрузка архива"));
    SetProgressPercent(form().WaitWindow2Btn->GlobalWaitProgressBar, 70);
    QVERIFY(form().WaitWindow2Btn->grab().save(out + QStringLiteral("/waitwindow2btn.png")));
    form().WaitWindow2Btn->hide();
    form().ApplyPrivileges("1-1;");
    QVERIFY(form().grab().save(out + QStringLiteral("/mainform-default.png")));
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
