// The window against the installation emulator on a pseudo-terminal, with a
// "commport.cfg" pointing at it: the settings sub-pages read, written and
// switched at once, the test mode, a port that cannot be opened and its
// new set-up, the password, the pause dialog and the About box. Controls
// are pressed by name; what is checked is what the operator sees and what
// reached the installation (the emulator's request log).

#include "access/passwords.h"
#include "app/aboutform.h"
#include "app/delaytimewindow.h"
#include "app/jpegimage.h"
#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "serial/compropertiesdialog.h"
#include "support/windowonsim.h"
#include "ui/radiogroup.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>

namespace {
QColor background(const QLabel *panel)
{
    return panel->palette().color(QPalette::Window);
}

// The installation as the tests want it.
const QStringList kInstallation = {
    "--set", "SERIALN=1234",       "--set", "DATETIME=24/12/2003 17.00.00", "--set", "STATUS=48",
    "--set", "BAS_INDICATOR=2",    "--set", "BAS_SIRENE=0",                 "--set", "DRYCONTACTIN=1",
    "--set", "DRYCONTACTOUT=0",    "--set", "DRYCONTACTTHR=12.5",           "--set", "KOEFFICIENT=0.5",
    "--set", "DURATIONTIME=10",    "--set", "ALARM1ON=1",                   "--set", "ALARM2ON=0",
    "--set", "TEMPERATURE=21.5",
};
} // namespace

class TestPages : public QObject, WindowOnSim {
    Q_OBJECT
private slots:
    void init() { initWindow(); }
    void cleanup() { cleanupWindow(); }

    void readsShowTheInstallation();
    void lateInstallationIsNoSuccess();
    void writesSendOnlyTheirGroup();
    void controlsThatWriteAtOnce();
    void unreadGroupsAreNeverWritten();
    void counterNotConnected();
    void testMode();
    void portUnavailableAndItsSetUp();
    void passwordChangesTheTabs();
    void hugePasswordListIsBounded();
    void pauseDialog();
    void aboutBox();
    void screenshots();

private:
    QString textOf(const char *name)
    {
        if (auto *l = form_->findChild<QLabel *>(QLatin1String(name)))
            return l->text();
        return named<QLineEdit>(name)->text();
    }
    void selectSubPage(int index) { selectTab("Page1PageControl", index); }
    // The operator's answer to the line settings dialog: that port, and OK.
    void expectLineSetUp(const QString &port)
    {
        prompt_->ExpectExec([port](QDialog &d) {
            qobject_cast<TComPropertiesDialog *>(&d)->PortNumCBox->setCurrentText(port);
            return int(QDialog::Accepted);
        });
    }
};

// --- reads ------------------------------------------------------------------------

void TestPages::readsShowTheInstallation()
{
    QVERIFY(startInstallation(kInstallation + QStringList{"--set", "ACTIVITY=57.3"}));
    QVERIFY(makeForm(kAllPrivileges));
    qsizetype mark = 0;
    QVERIFY(sim_->RequestLines().isEmpty()); // nothing is read at start
    QVERIFY(!named<QToolButton>("DispatchButton")->isEnabled());

    // Selecting "Измерение" reads it.
    selectSubPage(1);
    QCOMPARE(requestsSince(mark), (QList<QByteArray>{"KOEFFICIENT=??;", "ALARM1=??;", "ALARM2=??;", "ALARM1ON=??;",
                                                     "ALARM2ON=??;", "STATUS=??;", "ACTIVITY=??;",
                                                     "DURATIONTIME=??;"}));
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());
    QCOMPARE(textOf("Edit11"), u8("0.5"));
    QCOMPARE(textOf("Edit1DT"), u8("10"));
    QCOMPARE(textOf("ValuePanel1"), u8("57.3"));
    QCOMPARE(textOf("Alarm1On1"), u8("ВКЛ"));
    QCOMPARE(background(named<QLabel>("Alarm1On1")), QColor(255, 0, 0));
    QCOMPARE(textOf("Alarm2On1"), u8("ВЫКЛ"));
    QCOMPARE(background(named<QLabel>("Alarm2On1")), QColor(128, 128, 128));
    // STATUS 48: the flow indicator at fault, the pumping stopped.
    const std::pair<const char *, QColor> status[] = {{"НЕИСПРАВЕН", QColor(255, 0, 0)},
                                                      {"ВЫКЛ", QColor(0, 0, 255)},
                                                      {"OK", QColor(0, 255, 0)},
                                                      {"OK", QColor(0, 255, 0)}};
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "StatusPanel" + QByteArray::number(i + 1);
        QCOMPARE(textOf(name.constData()), u8(status[i].first));
        QCOMPARE(background(named<QLabel>(name.constData())), status[i].second);
    }
    QCOMPARE(form().WaitWindow->MessagePanel->text(), u8("загрузка параметров счетчика"));
    QVERIFY(!form().WaitWindow->isVisible());

    selectSubPage(2);
    QCOMPARE(requestsSince(mark), (QList<QByteArray>{"SELFBACKGROUND=??;", "CURRENT=??;", "UWORK=??;",
                                                     "OFFSETU0=??;", "OFFSETI0=??;", "TEMPERATURE=??;"}));
    QCOMPARE(textOf("MngEdit5"), u8("21.5"));
    QVERIFY(!textOf("MngEdit1").isEmpty());

    // "Общее", and the same again through "Прочитать из прибора".
    for (int pass = 0; pass < 2; ++pass) {
        pass == 0 ? selectSubPage(0) : click("RequestButton");
        QCOMPARE(requestsSince(mark), (QList<QByteArray>{"DATETIME=??;", "SERIALN=??;", "DRYCONTACTIN=??;",
                                                         "DRYCONTACTOUT=??;", "DRYCONTACTTHR=??;", "RESOURCE=??;",
                                                         "BAS_SIRENE=??;", "BAS_INDICATOR=??;"}));
    }
    QCOMPARE(textOf("NumPanel"), u8("1234"));
    QCOMPARE(textOf("DCLevelEdit"), u8("12.5"));
    QVERIFY(!textOf("ResourcePanel").isEmpty());
    QCOMPARE(named<TRadioGroup>("DryContactIN")->ItemIndex(), 0);
    QCOMPARE(named<TRadioGroup>("DryContactOUT")->ItemIndex(), 1);
    QCOMPARE(textOf("SireneOnOffPanel"), u8("ВЫКЛ"));
    QVERIFY(named<QRadioButton>("BASIndRB1")->isChecked());
    QCOMPARE(background(named<QLabel>("RedPanel")), QColor(255, 0, 0));
    QCOMPARE(background(named<QLabel>("YellowPanel")), QColor(128, 128, 0));
    QCOMPARE(background(named<QLabel>("GreenPanel")), QColor(0, 128, 0));
    QCOMPARE(named<QDateEdit>("DevDate")->date(), QDate(2003, 12, 24));
    const QTime shown = named<QTimeEdit>("DevTime")->time();
    QVERIFY2(shown >= QTime(17, 0, 0) && shown < QTime(17, 1, 0), qPrintable(shown.toString())); // the clock runs
    QCOMPARE(textOf("CommonModePanel"), u8("Рабочий режим"));

    // Filling the controls wrote nothing back.
    for (const QByteArray &r : sim_->RequestLines())
        QVERIFY2(r.endsWith("=??;"), r.constData());
}

// An installation that answers long after the line's read time-out: no
// sub-page read is taken as done, neither from a reply that comes during a
// later request nor from one still waiting on the line; an installation
// that answers in time is read at once after it.
void TestPages::lateInstallationIsNoSuccess()
{
    QVERIFY(startInstallation(kInstallation + QStringList{"--reply-delay", "1500"}));
    QVERIFY(makeForm(kAllPrivileges));
    qsizetype mark = 0;
    // Each group's first variable is asked three times, then the group is
    // given up. The late replies come in while later requests wait (the
    // replies to KOEFFICIENT during the reads of "Общее"), and the last read
    // starts once all nine have been sent: none of them may answer it.
    const QList<QByteArray> counter(3, "KOEFFICIENT=??;");
    const struct {
        int subPage;
        QList<QByteArray> asked;
        const char *shown;
    } reads[] = {{1, counter, "Edit11"},
                 {0, QList<QByteArray>(3, "DATETIME=??;") + QList<QByteArray>(3, "BAS_SIRENE=??;"), "NumPanel"},
                 {1, counter, "Edit11"}};
    for (const auto &read : reads) {
        if (&read == &reads[2])
            QVERIFY(sim_->WaitForLog("-> ", 9, 10000));
        selectSubPage(read.subPage);
        const QList<QByteArray> sent = requestsSince(mark);
        QVERIFY2(sent == read.asked, sent.join(' ').constData());
        QVERIFY(!named<QToolButton>("DispatchButton")->isEnabled());
        QVERIFY2(textOf(read.shown).isEmpty(), qPrintable(textOf(read.shown)));
        QCOMPARE(form().ExchangeState, quint8(esIdle));
    }
    QVERIFY(textOf("ValuePanel1").isEmpty() && textOf("Edit1DT").isEmpty());
    QVERIFY(prompt_->Messages().isEmpty());

    // The window set up onto an installation that answers in time.
    const std::unique_ptr<SimProcess> late = std::move(sim_);
    sim_ = std::make_unique<SimProcess>();
    QVERIFY(startInstallation(kInstallation));
    expectLineSetUp(sim_->LinkPath());
    form().RS2321Click();
    mark = 0;
    click("RequestButton");
    QCOMPARE(requestsSince(mark).size(), 8);
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());
    QCOMPARE(textOf("Edit11"), u8("0.5"));
    QCOMPARE(textOf("Edit1DT"), u8("10"));
}

// --- writes -----------------------------------------------------------------------

void TestPages::writesSendOnlyTheirGroup()
{
    QVERIFY(startInstallation(kInstallation));
    QVERIFY(makeForm(kAllPrivileges));
    qsizetype mark = 0;

    // "Общее": an edit waits for "Записать в прибор", which writes both groups once.
    click("RequestButton");
    requestsSince(mark);
    named<QLineEdit>("DCLevelEdit")->clear();
    QTest::keyClicks(named<QLineEdit>("DCLevelEdit"), "7.5");
    QVERIFY(requestsSince(mark).isEmpty());
    click("DispatchButton");
    QList<QByteArray> sent = requestsSince(mark);
    QCOMPARE(sent.size(), 8);
    QVERIFY2(sent[0].startsWith("DATETIME=24/12/2003 17.00."), sent[0].constData());
    QCOMPARE(sent.mid(1), (QList<QByteArray>{"SERIALN=1234;", "DRYCONTACTIN=1;", "DRYCONTACTOUT=0;",
                                             "DRYCONTACTTHR=7.5;", sent[5], "BAS_SIRENE=0;", "BAS_INDICATOR=2;"}));
    QCOMPARE(form().WaitWindow->MessagePanel->text(), u8("запись общих параметров VIVUVO"));
    QCOMPARE(textOf("DCLevelEdit"), u8("7.5"));

    // "Измерение": the counter's values.
    selectSubPage(1);
    requestsSince(mark);
    named<QLineEdit>("Edit13")->setText(QStringLiteral("150"));
    named<QLineEdit>("Edit16")->setText(QStringLiteral("300"));
    click("DispatchButton");
    sent = requestsSince(mark);
    QCOMPARE(sent.size(), 8);
    QCOMPARE(sent.mid(0, 3), (QList<QByteArray>{"KOEFFICIENT=0.5;", "ALARM1=150;", "ALARM2=300;"}));

    // "Служебное": "Из измеренного.." computes DURATIONTIME x KOEFFICIENT and
    // sends nothing until written.
    selectSubPage(2);
    requestsSince(mark);
    click("CopyToSelfFonBtn");
    QCOMPARE(textOf("SelfFonEdit"), u8("5"));
    named<QLineEdit>("MngEdit3")->setText(QStringLiteral("-0.25"));
    QVERIFY(requestsSince(mark).isEmpty());
    click("DispatchButton");
    sent = requestsSince(mark);
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent[0], QByteArray("SELFBACKGROUND=5;"));
    QCOMPARE(sent[3], QByteArray("OFFSETU0=-0.25;"));
    QCOMPARE(form().ExchangeState, quint8(esIdle));
}

void TestPages::controlsThatWriteAtOnce()
{
    QVERIFY(startInstallation(kInstallation));
    QVERIFY(makeForm());
    qsizetype mark = 0;
    click("RequestButton");
    requestsSince(mark);

    // The siren: switched on, written once with the lamp.
    click("SireneBtn");
    QCOMPARE(requestsSince(mark), (QList<QByteArray>{"BAS_SIRENE=1;", "BAS_INDICATOR=2;"}));
    QCOMPARE(textOf("SireneOnOffPanel"), u8("ВКЛ"));
    QCOMPARE(background(named<QLabel>("SireneOnOffPanel")), QColor(255, 0, 0));

    // A lamp: yellow, written once; the red one already lit writes nothing.
    click("BASIndRB2");
    QCOMPARE(requestsSince(mark), (QList<QByteArray>{"BAS_SIRENE=1;", "BAS_INDICATOR=1;"}));
    QCOMPARE(background(named<QLabel>("YellowPanel")), QColor(255, 255, 0));
    QCOMPARE(background(named<QLabel>("RedPanel")), QColor(128, 0, 0));
    named<QRadioButton>("BASIndRB2")->click();
    QVERIFY(requestsSince(mark).isEmpty());

    // The output contact writes the common values once.
    QTest::mouseClick(named<TRadioGroup>("DryContactOUT")->Item(0), Qt::LeftButton);
    QList<QByteArray> sent = requestsSince(mark);
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent[3], QByteArray("DRYCONTACTOUT=1;"));
    QCOMPARE(named<TRadioGroup>("DryContactOUT")->ItemIndex(), 0);

    // The input contact cannot be changed: the group returns to the value read.
    QTest::mouseClick(named<TRadioGroup>("DryContactIN")->Item(1), Qt::LeftButton);
    QCOMPARE(named<TRadioGroup>("DryContactIN")->ItemIndex(), 0);
    QVERIFY(requestsSince(mark).isEmpty());

    // A picker edit goes into the clock value, written with the next write.
    named<QTimeEdit>("DevTime")->setTime(QTime(9, 5, 3));
    QVERIFY(requestsSince(mark).isEmpty());
    click("DispatchButton");
    QCOMPARE(requestsSince(mark).value(0), QByteArray("DATETIME=24/12/2003 09.05.03;"));

    // Synchronisation: the computer's clock, written once.
    const QDateTime before = QDateTime::currentDateTime();
    click("SynchroBtn");
    sent = requestsSince(mark);
    QCOMPARE(sent.size(), 6);
    const QDateTime written =
        QDateTime::fromString(QString::fromLatin1(sent[0].mid(9).chopped(1)), QStringLiteral("dd/MM/yyyy HH.mm.ss"));
    QVERIFY2(written.isValid() && qAbs(before.secsTo(written)) <= 2, sent[0].constData());
    QCOMPARE(named<QDateEdit>("DevDate")->date(), written.date());
}

void TestPages::unreadGroupsAreNeverWritten()
{
    QVERIFY(startInstallation(kInstallation));
    QVERIFY(makeForm("1-1;1-2;1-3;"));
    qsizetype mark = 0;

    // Nothing read yet: every write command, and every control that writes
    // at once, sends nothing and says why; the controls stay as they were.
    const std::pair<TCommand, const char *> writes[] = {{cmdWriteCommon, "Общее"},   {cmdWriteDevice, "Общее"},
                                                        {cmdWriteAlarmUnit, "Общее"}, {cmdWriteCounter, "Измерение"},
                                                        {cmdWriteService, "Служебное"}};
    for (const auto &[command, subPage] : writes) {
        form().ExecuteCommand(command);
        QVERIFY(requestsSince(mark).isEmpty());
        QCOMPARE(lastTerminalLine(), u8("Запись не выполнена: значения \"%1\" ещё не прочитаны из прибора").arg(u8(subPage)));
    }
    const QDate shownDate = named<QDateEdit>("DevDate")->date();
    for (const char *control : {"BASIndRB1", "SireneBtn", "BASIndRB3", "DryContactOUT", "SynchroBtn"}) {
        if (QByteArray(control) == "DryContactOUT")
            QTest::mouseClick(named<TRadioGroup>(control)->Item(0), Qt::LeftButton);
        else
            click(control);
        QVERIFY(requestsSince(mark).isEmpty());
        for (const char *lamp : {"BASIndRB1", "BASIndRB2", "BASIndRB3"})
            QVERIFY2(!named<QRadioButton>(lamp)->isChecked(), control);
        QCOMPARE(background(named<QLabel>("RedPanel")), QColor(128, 0, 0));
        QCOMPARE(background(named<QLabel>("GreenPanel")), QColor(0, 128, 0));
        QCOMPARE(textOf("SireneOnOffPanel"), u8("ВЫКЛ"));
        QCOMPARE(named<TRadioGroup>("DryContactOUT")->ItemIndex(), -1);
        QCOMPARE(named<QDateEdit>("DevDate")->date(), shownDate);
    }
    QCOMPARE(lastTerminalLine(), u8("Синхронизация не выполнена: сначала прочитайте \"Общее\" из прибора"));

    // "Измерение" read; a privilege change then shows "Общее" unread, and
    // "Записать в прибор" goes with it.
    selectSubPage(1);
    requestsSince(mark);
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());
    form().ApplyPrivileges("1-1;");
    QCOMPARE(form().ActivePages().SettingsSubPage, int(spCommon));
    QVERIFY(!named<QToolButton>("DispatchButton")->isEnabled());
    form().ExecuteCommand(cmdWriteCommon);
    QVERIFY(requestsSince(mark).isEmpty());

    // The read group still writes, and so does "Общее" once read.
    form().ExecuteCommand(cmdWriteCounter);
    QCOMPARE(requestsSince(mark).value(0), QByteArray("KOEFFICIENT=0.5;"));
    form().ApplyPrivileges("1-1;1-2;");
    click("RequestButton");
    requestsSince(mark);
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());
    click("BASIndRB3");
    QCOMPARE(requestsSince(mark), (QList<QByteArray>{"BAS_SIRENE=0;", "BAS_INDICATOR=0;"}));
}

void TestPages::counterNotConnected()
{
    QVERIFY(startInstallation(kInstallation + QStringList{"--set", "KOEFFICIENT= 0 "}));
    QVERIFY(makeForm(kAllPrivileges));
    qsizetype mark = 0;
    const QString notice = u8("Счетчик не подключен к БОП. Просмотр и редактирование его параметров невозможны.");

    // The values of "Измерение" are not shown; "Общее" is selected and read.
    prompt_->ExpectInformation();
    selectSubPage(1);
    QCOMPARE(prompt_->Messages(), QStringList{notice});
    QCOMPARE(named<QTabWidget>("Page1PageControl")->currentIndex(), 0);
    const QList<QByteArray> sent = requestsSince(mark);
    QCOMPARE(sent.size(), 8 + 8);
    QCOMPARE(sent[8], QByteArray("DATETIME=??;"));
    QVERIFY(textOf("Edit11").isEmpty() && textOf("ValuePanel1").isEmpty());

    // Nor can they be written ("Записать в прибор" on "Измерение").
    prompt_->ExpectInformation();
    form().ExecuteCommand(cmdWriteCounter);
    const QList<QByteArray> after = requestsSince(mark);
    QCOMPARE(after.size(), 8); // "Общее" read again, nothing written
    QVERIFY(after[0] == "DATETIME=??;" && after[7] == "BAS_INDICATOR=??;");
    QCOMPARE(form().ExchangeState, quint8(esIdle));

    // Where "Общее" may not be shown, the notice comes once and the sub-page
    // stays; reading "Измерение" again would only bring the notice back.
    form().ApplyPrivileges("1-2;");
    prompt_->ExpectInformation();
    click("RequestButton");
    QCOMPARE(prompt_->Messages().size(), 3);
    QCOMPARE(named<QTabWidget>("Page1PageControl")->currentIndex(), 1);
    QCOMPARE(requestsSince(mark).size(), 8);
    QCOMPARE(form().ExchangeState, quint8(esIdle));
}

// --- test mode --------------------------------------------------------------------

void TestPages::testMode()
{
    QFile pause(QStringLiteral("kvarn.dtf"));
    QVERIFY(pause.open(QIODevice::WriteOnly) && pause.write("1\r\n") == 3);
    pause.close();
    QVERIFY(startInstallation(kInstallation + QStringList{"--activity", "10,20,30,40"}));
    QVERIFY(makeForm(kAllPrivileges));
    qsizetype mark = 0;
    auto activityReads = [this] { return sim_->RequestLines().count("ACTIVITY=??;"); };

    // On: "Измерение" read, one poll at once (a new mean from 20).
    click("TestModeButton");
    QVERIFY(form().TestMode);
    QCOMPARE(requestsSince(mark).size(), 8 + 1);
    QCOMPARE(textOf("ValuePanel1"), u8("20"));
    QCOMPARE(textOf("CommonModePanel"), u8("Тестовый режим"));
    QVERIFY(!named<QToolButton>("RequestButton")->isEnabled() && !named<QToolButton>("DispatchButton")->isEnabled());

    // Then a poll every second: the mean of 20 and 30.
    QTRY_COMPARE_WITH_TIMEOUT(textOf("ValuePanel1"), u8("25"), 5000);
    QCOMPARE(activityReads(), 3);

    // An edit is put back at once and nothing is written; selecting a
    // sub-page reads nothing.
    QLineEdit *alarm1 = named<QLineEdit>("Edit13");
    const QString stored = alarm1->text();
    QTest::keyClicks(alarm1, "9");
    QCOMPARE(alarm1->text(), stored);
    click("SireneBtn");
    QCOMPARE(textOf("SireneOnOffPanel"), u8("ВЫКЛ"));
    selectSubPage(2);
    for (const QByteArray &r : requestsSince(mark))
        QCOMPARE(r, QByteArray("ACTIVITY=??;"));

    // Off: no more polls, the current sub-page read once, buttons back.
    click("TestModeButton");
    QVERIFY(!form().TestMode && !named<QTimer>("TestModeRequestTimer")->isActive());
    QList<QByteArray> after = requestsSince(mark);
    after.removeAll("ACTIVITY=??;"); // a poll that was due before the click
    QCOMPARE(after.value(0), QByteArray("SELFBACKGROUND=??;"));
    QCOMPARE(after.size(), 6);
    QVERIFY(named<QToolButton>("RequestButton")->isEnabled() && named<QToolButton>("DispatchButton")->isEnabled());
    QCOMPARE(textOf("CommonModePanel"), u8("Рабочий режим"));
}

// --- the line ---------------------------------------------------------------------

void TestPages::portUnavailableAndItsSetUp()
{
    const QString warning = u8("Выбранный последовательный порт недоступен. Попробуйте перенастроить программу.\n\n"
                               "Порт %1: нет такого устройства")
                                .arg(filePath(QStringLiteral("no-such-tty")));
    QVERIFY(writePortFile(QFile::encodeName(filePath(QStringLiteral("no-such-tty")))));
    prompt_->ExpectWarning();
    QVERIFY(makeForm());
    QCOMPARE(prompt_->Messages(), QStringList{warning});

    // Every read fails: no message, and nothing to write.
    form().ApplyPrivileges(kAllPrivileges);
    for (int page : {1, 2, 0}) {
        selectSubPage(page);
        QVERIFY(!named<QToolButton>("DispatchButton")->isEnabled());
    }
    QVERIFY(form().Terminal()->count() > 0);
    QCOMPARE(prompt_->Messages().size(), 1);

    // Cancelling the line settings touches nothing.
    const QByteArray before = [&] {
        QFile f(QStringLiteral("commport.cfg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    prompt_->ExpectExec([](QDialog &d) {
        qobject_cast<TComPropertiesDialog *>(&d)->PortNumCBox->setCurrentText(QStringLiteral("COM9"));
        return int(QDialog::Rejected);
    });
    form().RS2321Click();
    QFile cfg(QStringLiteral("commport.cfg"));
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    QCOMPARE(cfg.readAll(), before);
    cfg.close();

    // Set up anew onto the installation: saved, opened, and reads work.
    QVERIFY(startInstallation(kInstallation));
    QFile::remove(QStringLiteral("commport.cfg"));
    const QString link = sim_->LinkPath();
    expectLineSetUp(link);
    form().RS2321Click();
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    QVERIFY(cfg.readAll().startsWith("PortNumber=" + QFile::encodeName(link) + "\r\n"));
    click("RequestButton");
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());
    QCOMPARE(textOf("NumPanel"), u8("1234"));
    QCOMPARE(prompt_->Messages().size(), 1);

    // And onto a port that is not there again: the warning.
    expectLineSetUp(QStringLiteral("/nonexistent/tty"));
    prompt_->ExpectWarning();
    form().RS2321Click();
    QVERIFY(prompt_->Messages().value(1).startsWith(warning.section(u'\n', 0, 0) + u8("\n\nПорт /nonexistent/tty: ")));
    click("RequestButton");
    QVERIFY(!named<QToolButton>("DispatchButton")->isEnabled());
    QCOMPARE(textOf("NumPanel"), u8("1234")); // redisplayed from the values held
}

// --- access, pause, About ----------------------------------------------------------

void TestPages::hugePasswordListIsBounded()
{
    // Megabytes of empty lines: the first 4096 are the list, the rest are
    // not read, and the terminal page says so.
    QVERIFY(writePortFile(QFile::encodeName(filePath(QStringLiteral("no-such-tty")))));
    {
        QFile pwd(QStringLiteral("kvarn.pwd"));
        QVERIFY(pwd.open(QIODevice::WriteOnly));
        pwd.write(QByteArray(4 * 1024 * 1024, '\n'));
    }
    prompt_->ExpectWarning();
    QVERIFY(makeForm());
    QStringList lines;
    for (int i = 0; i < form().Terminal()->count(); ++i)
        lines << form().Terminal()->item(i)->text();
    QVERIFY2(lines.contains(u8("Список паролей: прочитаны первые 4096 строк, остальные 4190208 не читаются")),
             qPrintable(lines.join(u'\n')));
}

void TestPages::passwordChangesTheTabs()
{
    QVERIFY(writePortFile(QFile::encodeName(filePath(QStringLiteral("no-such-tty")))));
    {
        QFile plain(QStringLiteral("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("1-1;1-2; \r\n" + kAllPrivileges + " " + ToCp1251(u8("Админ")) + "\r\n");
        plain.close();
        TPasswords list(true);
        QVERIFY(list.LoadSourcePasswordsList(plain.fileName()));
        QVERIFY(list.SavePasswordsList(QStringLiteral("kvarn.pwd")));
    }
    prompt_->ExpectWarning();
    QVERIFY(makeForm());
    auto shown = [this](const char *tabs) {
        QStringList names;
        auto *t = named<QTabWidget>(tabs);
        for (int i = 0; i < t->count(); ++i)
            if (t->isTabVisible(i))
                names << t->widget(i)->objectName();
        return names;
    };
    // The empty password's privileges at start, and the menu item works.
    QCOMPARE(shown("MainPageControl"), QStringList{"TabSheet1"});
    QCOMPARE(shown("Page1PageControl"), (QStringList{"TabSheet3", "TabSheet4"}));
    QVERIFY(named<QAction>("N10")->isEnabled());

    auto type = [](const QString &password) {
        return [password](QDialog &d) {
            d.findChild<QLineEdit *>(QStringLiteral("PasswordEdit"))->setText(password);
            return int(QDialog::Accepted);
        };
    };
    // A wrong one: the wrong-password window, and nothing changes.
    prompt_->ExpectExec(type(QStringLiteral("админ")));
    prompt_->ExpectExec([](QDialog &d) {
        return d.objectName() == QLatin1String("PasswordIsIncorrectForm") ? int(QDialog::Accepted) : -1;
    });
    named<QAction>("N10")->trigger();
    QCOMPARE(prompt_->Log().last().text, QStringLiteral("PasswordIsIncorrectForm"));
    QCOMPARE(shown("Page1PageControl"), (QStringList{"TabSheet3", "TabSheet4"}));

    prompt_->ExpectExec(type(u8("Админ")));
    named<QAction>("N10")->trigger();
    QCOMPARE(shown("MainPageControl"), (QStringList{"TabSheet1", "TabSheet2", "TabSheet6", "TabSheet8"}));
    QCOMPARE(shown("Page1PageControl"), (QStringList{"TabSheet3", "TabSheet4", "TabSheet5"}));
}

void TestPages::pauseDialog()
{
    QVERIFY(writePortFile(QFile::encodeName(filePath(QStringLiteral("no-such-tty")))));
    prompt_->ExpectWarning();
    QVERIFY(makeForm());
    TDelayTimeWindow window; // the application's, handed to the window
    form().SetDelayTimeWindow(&window);
    QTimer *poll = named<QTimer>("TestModeRequestTimer");
    QCOMPARE(window.windowTitle(), u8("Интервал"));
    QCOMPARE(window.NumLabel->text(), u8("Интервал, сек. :"));

    // Shown with the pause, all of it selected; typing replaces it.
    auto enter = [](const char *typed, int result, QString *seen = nullptr) {
        return [=](QDialog &d) {
            auto &w = static_cast<TDelayTimeWindow &>(d);
            w.show();
            if (seen)
                *seen = w.NumME->selectedText().trimmed();
            if (typed)
                QTest::keyClicks(w.NumME, QString::fromLatin1(typed));
            w.hide();
            return result;
        };
    };
    QString selected;
    prompt_->ExpectExec(enter("25", QDialog::Accepted, &selected));
    form().N9Click();
    QCOMPARE(selected, QStringLiteral("10"));
    QCOMPARE(form().TestModePause, 25);
    QCOMPARE(poll->interval(), 25000);
    QFile file(QStringLiteral("kvarn.dtf"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("25\r\n"));
    file.close();

    // Rejected on OK, or cancelled: the pause stays.
    const struct {
        const char *typed;
        int result;
    } kept[] = {{"300", QDialog::Accepted}, {"0", QDialog::Accepted}, {"", QDialog::Accepted}, {"7", QDialog::Rejected}};
    for (const auto &k : kept) {
        prompt_->ExpectExec([&](QDialog &d) {
            auto &w = static_cast<TDelayTimeWindow &>(d);
            w.NumME->clear();
            QTest::keyClicks(w.NumME, QString::fromLatin1(k.typed));
            return k.result;
        });
        form().N9Click();
        QVERIFY2(form().TestModePause == 25, k.typed);
    }
    QCOMPARE(window.NumME->maxLength(), 3);

    // 255 is the longest pause; a pause beyond it opens an empty field.
    window.SetInterval(255);
    QCOMPARE(window.GetInterval(), 255);
    window.SetInterval(300);
    QCOMPARE(window.GetInterval(), -1);
    QVERIFY(window.NumME->text().trimmed().isEmpty());
}

void TestPages::aboutBox()
{
    QVERIFY(writePortFile(QFile::encodeName(filePath(QStringLiteral("no-such-tty")))));
    prompt_->ExpectWarning();
    QVERIFY(makeForm());
    TAboutForm *about = form().About();
    QCOMPARE(about->VersionNumberLabel->text(), u8("Версия"));
    QString version;
    prompt_->ExpectExec([&](QDialog &d) {
        version = d.findChild<QLabel *>(QStringLiteral("VersionNumberLabel"))->text();
        return int(QDialog::Accepted);
    });
    named<QAction>("N11")->trigger();
    QCOMPARE(version, u8("Версия  1.1"));
    QCOMPARE(about->windowTitle(), u8("О программе"));
    QCOMPARE(about->Label1->text(), u8("КВАРН-1Б"));
    QCOMPARE(about->Label2->text(), u8("для Windows 9x/ME/NT/2000"));
    QCOMPARE(about->BitBtn1->text(), QStringLiteral("OK"));

    // The picture stored with the program comes through libjpeg, and bad
    // data gives no picture rather than a crash.
    const QImage picture = TAboutForm::Picture();
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.width() * 105, picture.height() * 283);
    QVERIFY(picture.pixelColor(2, 2) != picture.pixelColor(picture.width() / 2, picture.height() - 2));
    QVERIFY(!about->Image1->pixmap().isNull());
    QFile jpeg(QStringLiteral(":/app/pictures/about.jpg"));
    QVERIFY(jpeg.open(QIODevice::ReadOnly));
    const QByteArray data = jpeg.readAll();
    QVERIFY(DecodeJpeg(QByteArray("not a picture")).isNull());
    QVERIFY(DecodeJpeg(data.left(data.size() / 3)).isNull()); // cut off
    QVERIFY(DecodeJpeg(data.left(20)).isNull());
    QVERIFY(DecodeJpeg(data, 1000).isNull()); // larger than allowed
    QByteArray spoilt = data;
    for (qsizetype i = 200; i < spoilt.size(); i += 97)
        spoilt[i] = char(0xFF);
    DecodeJpeg(spoilt); // whatever it gives, it returns
}

void TestPages::screenshots()
{
    // With KVARN_GRAB_DIR set, the three sub-pages with the installation's
    // values are saved as PNG to look at.
    const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (out.isEmpty())
        QSKIP("KVARN_GRAB_DIR is not set");
    QVERIFY(startInstallation(kInstallation));
    QVERIFY(makeForm(kAllPrivileges));
    for (int page : {1, 2, 0}) {
        selectSubPage(page);
        QVERIFY(form().grab().save(QStringLiteral("%1/settings-%2.png").arg(out).arg(page + 1)));
    }
    prompt_->ExpectExec([&](QDialog &d) {
        d.show();
        d.grab().save(out + QStringLiteral("/about.png"));
        return int(QDialog::Accepted);
    });
    form().N11Click();
    TDelayTimeWindow window;
    window.SetInterval(10);
    window.show();
    window.grab().save(out + QStringLiteral("/pause.png"));
}

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
