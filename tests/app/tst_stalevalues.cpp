// What the window shows must not pass for more than it is: a write that did
// not go through is said, values a failed read left are greyed and named in
// the status bar, the flags the test mode does not poll are marked, the
// device number chosen is the one every exchange goes to, and a line that
// failed under an exchange is opened again by the next command.

#include "app/terminallistbox.h"
#include "base/cp1251.h"
#include "instrument/ormak.h"
#include "protocol/frame.h"
#include "serial/memoryline.h"
#include "support/windowonsim.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

namespace {
bool notCurrent(const QWidget *w)
{
    return w->property("notCurrent").toBool() && w->graphicsEffect();
}
} // namespace

class TestStaleValues : public QObject, WindowOnSim {
    Q_OBJECT
private slots:
    void init() { initWindow(); }
    void cleanup() { cleanupWindow(); }

    void failedWriteSaidFailedReadGreyed();
    void testModeMarksWhatItDoesNotPoll();
    void deviceNumberChosenKeptAndUsed();
    void failedLineReopenedByTheNextCommand();

private:
    void selectSubPage(int index) { selectTab("Page1PageControl", index); }
    QLabel *readNote() { return named<QLabel>("ReadNotePanel"); }
    // With KVARN_GRAB_DIR set, the window is saved there to look at.
    void grab(const char *name)
    {
        const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
        if (!out.isEmpty())
            form().grab().save(QStringLiteral("%1/%2.png").arg(out, QLatin1String(name)));
    }
};

// Requests 7 to 12 go unanswered: the service write's three attempts at
// SELFBACKGROUND, then the three of the counter read's KOEFFICIENT.
void TestStaleValues::failedWriteSaidFailedReadGreyed()
{
    QVERIFY(startInstallation({"--fault", "7-12:silent", "--set", "SELFBACKGROUND=3.5"}));
    QVERIFY(makeForm(kAllPrivileges));
    selectSubPage(2);
    QLineEdit *selfFon = named<QLineEdit>("SelfFonEdit");
    QCOMPARE(selfFon->text(), u8("3.5"));

    selfFon->setText(u8("12.5"));
    prompt_->ExpectWarning();
    click("DispatchButton");
    QCOMPARE(prompt_->Messages(), QStringList{u8("Запись не выполнена: нет ответа на SELFBACKGROUND")});
    // The typed value stays for another try.
    QCOMPARE(selfFon->text(), u8("12.5"));
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());

    selectSubPage(1);
    QVERIFY(notCurrent(named<QLineEdit>("Edit11")) && notCurrent(named<QLabel>("Alarm1On1")));
    QVERIFY(!notCurrent(selfFon));
    QVERIFY(readNote()->isVisible());
    QCOMPARE(readNote()->text(), u8("Чтение не удалось, значения не текущие: «Измерение»"));
    grab("failed-read");

    // Elsewhere the note goes with the page; a read that succeeds ends it.
    selectTab("MainPageControl", 3);
    QVERIFY(!readNote()->isVisible());
    selectTab("MainPageControl", 0);
    QVERIFY(readNote()->isVisible());
    click("RequestButton");
    QVERIFY(!notCurrent(named<QLineEdit>("Edit11")));
    QVERIFY(!readNote()->isVisible());
    QCOMPARE(prompt_->Messages().size(), 1);
}

// The poll asks ACTIVITY alone: the alarm flags and states beside it are
// marked as not current while it runs, and the time of the last poll
// answered shows beside the value.
void TestStaleValues::testModeMarksWhatItDoesNotPoll()
{
    QFile pause(QStringLiteral("kvarn.dtf"));
    QVERIFY(pause.open(QIODevice::WriteOnly) && pause.write("1\r\n") == 3);
    pause.close();
    QVERIFY(startInstallation({"--set", "ALARM2=5000", "--activity", "100,7000,7000"}));
    QVERIFY(makeForm(kAllPrivileges));
    selectSubPage(1);
    const QList<QWidget *> flags = {named<QLabel>("Alarm1On1"), named<QLabel>("Alarm2On1"),
                                    named<QLabel>("StatusPanel1"), named<QLabel>("StatusPanel4")};
    QLabel *pollTime = named<QLabel>("PollTimePanel");
    for (QWidget *w : flags)
        QVERIFY(!notCurrent(w));

    click("TestModeButton");
    for (QWidget *w : flags) {
        QVERIFY(notCurrent(w));
        QVERIFY(w->toolTip().contains(u8("«Прочитать из прибора»")));
    }
    QVERIFY(!notCurrent(named<QLineEdit>("Edit13")) && !notCurrent(named<QLabel>("ValuePanel1")));
    const QRegularExpression answered(QStringLiteral("^ответ \\d\\d:\\d\\d:\\d\\d$"));
    QVERIFY2(answered.match(pollTime->text()).hasMatch(), qPrintable(pollTime->text()));
    const QString first = pollTime->text();
    QTRY_VERIFY_WITH_TIMEOUT(pollTime->text() != first, 5000);
    grab("test-mode");

    click("TestModeButton");
    for (QWidget *w : flags)
        QVERIFY(!notCurrent(w));
    QVERIFY(pollTime->text().isEmpty());
}

// Installation 7 on the line: device 1 gets no answer; once 7 is chosen the
// exchanges reach it, the status bar names it, and the line settings file
// keeps it for the next start (a file without it still means 1).
void TestStaleValues::deviceNumberChosenKeptAndUsed()
{
    QVERIFY(startInstallation({"--device", "7", "--set", "SERIALN=4321"}));
    QVERIFY(makeForm(kAllPrivileges));
    QLabel *status = named<QLabel>("DeviceNumberPanel");
    QCOMPARE(status->text(), u8("Прибор № 1"));

    prompt_->ExpectExec([this](QDialog &d) {
        d.show();
        auto *number = d.findChild<QSpinBox *>(QStringLiteral("DeviceNumberEdit"));
        if (!number || number->minimum() != 1 || number->maximum() != 255 || number->value() != 1)
            return int(QDialog::Rejected);
        number->setValue(7);
        const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
        if (!out.isEmpty())
            d.grab().save(out + QStringLiteral("/device-number.png"));
        return int(QDialog::Accepted);
    });
    click("ToolButton4");
    QCOMPARE(status->text(), u8("Прибор № 7"));
    QCOMPARE(form().Installation()->DeviceNumber, quint8(7));
    click("RequestButton");
    QCOMPARE(named<QLabel>("NumPanel")->text(), u8("4321"));
    grab("device-number-status");

    QFile cfg(filePath(QStringLiteral("commport.cfg")));
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = cfg.readAll().split('\n');
    QCOMPARE(lines.value(9), QByteArray("DeviceNumber=7\r"));
    cfg.close();
    form_.reset();
    QVERIFY(makeForm(kAllPrivileges));
    QCOMPARE(form().Installation()->DeviceNumber, quint8(7));

    // Cancelled, the number stays; the menu item opens the same window.
    prompt_->ExpectExec([](QDialog &d) {
        d.findChild<QSpinBox *>(QStringLiteral("DeviceNumberEdit"))->setValue(9);
        return int(QDialog::Rejected);
    });
    form().findChild<QAction *>(QStringLiteral("N7"))->trigger();
    QCOMPARE(form().Installation()->DeviceNumber, quint8(7));
}

// An adapter pulled out under a read, then put back: the next command opens
// the port again by itself, once, and its exchange goes through.
void TestStaleValues::failedLineReopenedByTheNextCommand()
{
    QVERIFY(writePortFile("/dev/kvarn-memory"));
    TMemoryLine line;
    line.SetResponder([](const QByteArray &written) {
        ProtocolFrame request;
        if (!ParseFrame(written, request))
            return QByteArray();
        const TextSegment s = ParseSegment(request.Text().chopped(1));
        return BuildFrame(MakeRequestFrame(1, 0, VarReference(s.Name, s.Index) + "=1;"));
    });
    form_ = std::make_unique<TMainForm>(TMainFormSetup{prompt_.get(), line.Factory()});
    form_->ApplyPrivileges(kAllPrivileges);
    QCOMPARE(line.Opens(), 1);

    line.SetFailRead(true);
    form().RequestButtonClick();
    QVERIFY(form().Channel()->LineFailed());
    QVERIFY(notCurrent(named<QLabel>("NumPanel")));

    line.SetFailRead(false);
    form().RequestButtonClick();
    QCOMPARE(line.Opens(), 2);
    QVERIFY(!form().Channel()->LineFailed());
    QVERIFY(!notCurrent(named<QLabel>("NumPanel")));
    QVERIFY(named<QToolButton>("DispatchButton")->isEnabled());
    const QStringList terminal = [&] {
        QStringList lines;
        for (int i = 0; i < form().Terminal()->count(); ++i)
            lines << form().Terminal()->item(i)->text();
        return lines;
    }();
    QVERIFY(terminal.contains(u8("Линия отказала; порт /dev/kvarn-memory открыт заново")));
    // A line that works is not opened again.
    form().RequestButtonClick();
    QCOMPARE(line.Opens(), 2);
    form_.reset(); // before the line it reads
}

QTEST_MAIN(TestStaleValues)
#include "tst_stalevalues.moc"
