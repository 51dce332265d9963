// The page "Архив" against the installation emulator on a pseudo-terminal:
// the archive read with the operator's choice in "Параметры архива", a
// cancelled choice, a fault in the middle of the read, the operator stopping
// a long read (and nothing else starting meanwhile), and archive files
// loaded and saved from the page. What is checked is what the operator sees
// and what reached the installation (the emulator's request log).

#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "support/windowonsim.h"
#include "views/archiveparamselector.h"
#include "views/devicearchiveview.h"

#include <QAction>
#include <QRegularExpression>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {
const QString kArchiveFilter = QString::fromUtf8("Файлы архивов (*.daf);;Все файлы (*.*)");

// The requests of records first, first + step, ... up to last.
QList<QByteArray> recordRequests(const QList<QByteArray> &names, int first, int step, int last)
{
    QList<QByteArray> requests;
    for (int n = first; n <= last; n += step)
        for (const QByteArray &name : names)
            requests.append(name + ":A" + PadLeftInt(n, "0", 3) + "=??;");
    return requests;
}
} // namespace

class TestArchivePage : public QObject, WindowOnSim {
    Q_OBJECT
private slots:
    void init()
    {
        initWindow();
        mark_ = 0;
    }
    void cleanup() { cleanupWindow(); }

    void defaultRead();
    void templateChoosesTheRecords();
    void faultInTheMiddle();
    void operatorStopsALongRead_data();
    void operatorStopsALongRead();
    void archiveFiles();
    void screenshots();

private:
    qsizetype mark_ = 0;

    // The emulator with these options, and the window on page "Архив".
    bool startOnArchivePage(const QStringList &options)
    {
        if (!startInstallation(options) || !makeForm(kAllPrivileges))
            return false;
        selectTab("MainPageControl", pgArchive - 1);
        return named<QToolButton>("RequestButton")->isVisible();
    }
    TDeviceArchiveView *view() { return named<TDeviceArchiveView>("ArchiveView"); }
    QAbstractItemModel *table() { return view()->ArchiveGrid->model(); }
    QString cell(int row, int column) { return table()->index(row, column).data().toString(); }
    QStringList header()
    {
        QStringList names;
        for (int c = 0; c < table()->columnCount(); ++c)
            names.append(table()->headerData(c, Qt::Horizontal).toString());
        return names;
    }
    void readArchive() { click("RequestButton"); }
    // The selection window confirmed as it is.
    void expectChoiceConfirmed() { prompt_->ExpectExec([](QDialog &) { return int(QDialog::Accepted); }); }
    QList<QByteArray> requestsSince() { return WindowOnSim::requestsSince(mark_); }
    // The value the installation gave for a request.
    QString replied(const QByteArray &reference)
    {
        for (const QByteArray &line : sim_->ReplyLines())
            if (line.startsWith(reference + '='))
                return FromCp1251(line.mid(reference.size() + 1).chopped(1));
        return QStringLiteral("<no reply>");
    }
    void checkHandedBack()
    {
        QCOMPARE(form().ExchangeState, quint8(esIdle));
        QCOMPARE(form().Driver()->ProgressBar(), static_cast<ProgressSink *>(form().WaitWindow->WaitProgressBar));
        QVERIFY(!form().Driver()->CancelButton());
        QVERIFY(!form().WaitWindow->isVisible());
        QVERIFY(!form().WaitWindow2Btn->isVisible());
    }
};

void TestArchivePage::defaultRead()
{
    QVERIFY(startOnArchivePage({"--records", "5"}));
    QVERIFY(sim_->RequestLines().isEmpty());

    // First use: DATETIME and ACTIVITY, every record.
    QString caption;
    int low = 0, high = 0;
    prompt_->ExpectExec([&](QDialog &d) {
        auto &selector = static_cast<TArchiveParamSelector &>(d);
        caption = selector.OptionsGB->title();
        low = selector.LowRange();
        high = selector.HighRange();
        return int(QDialog::Accepted);
    });
    readArchive();
    QCOMPARE(caption, u8(" Настройки выборки  (архив содержит 5 записей) "));
    QCOMPARE(low, 1);
    QCOMPARE(high, 5);
    QCOMPARE(requestsSince(),
             QList<QByteArray>{"NUMOFRECORDS=??;"} + recordRequests({"DATETIME", "ACTIVITY"}, 1, 1, 5));

    QCOMPARE(header(), (QStringList{"DATETIME", "ACTIVITY"}));
    QCOMPARE(table()->rowCount(), 5);
    for (int r = 0; r < 5; ++r) {
        const QByteArray index = "A00" + QByteArray::number(r + 1);
        QCOMPARE(cell(r, 0), replied("DATETIME:" + index));
        QCOMPARE(cell(r, 1), replied("ACTIVITY:" + index));
    }
    QCOMPARE(form().WaitWindow2Btn->GlobalWaitProgressBar->value(), 100);
    checkHandedBack();
    // The archive keeps the descriptions of all archive variables; the view
    // those of its columns.
    QCOMPARE(form().Installation()->Archive->Descriptions()->Count(), 12);
    QCOMPARE(view()->ColumnDescriptions()->Count(), 2);

    // The choice cancelled: nothing more is sent, the table stays, nothing is said.
    prompt_->ExpectExec([](QDialog &) { return int(QDialog::Rejected); });
    readArchive();
    QCOMPARE(requestsSince(), QList<QByteArray>{"NUMOFRECORDS=??;"});
    QCOMPARE(table()->rowCount(), 5);
    QCOMPARE(form().Installation()->Archive->RecordCount(), 5);
    QVERIFY(prompt_->Messages().isEmpty());
    checkHandedBack();
}

void TestArchivePage::templateChoosesTheRecords()
{
    QVERIFY(startOnArchivePage({"--records", "12"}));
    const QString path = filePath(QStringLiteral("step2.ash"));
    QVERIFY(writeFileBytes(path, "2\r\n3\r\n9\r\nACTIVITY\r\nstatus\r\n"));
    prompt_->ExpectExec([](QDialog &d) {
        QTest::mouseClick(static_cast<TArchiveParamSelector &>(d).BitBtn1, Qt::LeftButton);
        return int(QDialog::Accepted);
    });
    prompt_->ExpectOpenFile(path);
    readArchive();
    QCOMPARE(requestsSince(),
             QList<QByteArray>{"NUMOFRECORDS=??;"} + recordRequests({"STATUS", "ACTIVITY"}, 3, 2, 9));
    QCOMPARE(header(), (QStringList{"STATUS", "ACTIVITY"}));
    QCOMPARE(table()->rowCount(), 4);
    QCOMPARE(cell(3, 1), replied("ACTIVITY:A009"));
    checkHandedBack();

    // The next read with the same record count keeps the choice.
    expectChoiceConfirmed();
    readArchive();
    QCOMPARE(requestsSince(),
             QList<QByteArray>{"NUMOFRECORDS=??;"} + recordRequests({"STATUS", "ACTIVITY"}, 3, 2, 9));
}

void TestArchivePage::faultInTheMiddle()
{
    // Requests: 1 the count, 2 and 3 record 1, 4 record 2's DATETIME, which
    // with its two retries goes unanswered.
    QVERIFY(startOnArchivePage({"--records", "5", "--fault", "4-6:silent"}));
    // Something on the page before.
    const QString shown = filePath(QStringLiteral("shown.daf"));
    QVERIFY(writeFileBytes(shown, "DATETIME  \r\nx  \r\n"));
    prompt_->ExpectOpenFile(shown);
    click("ToolButton1");
    QCOMPARE(table()->rowCount(), 1);

    expectChoiceConfirmed();
    QString warning;
    prompt_->ExpectWarning([&] { warning = prompt_->Log().last().text; });
    readArchive();
    QCOMPARE(warning, u8("Загрузка архива не удалась!"));
    QCOMPARE(requestsSince().mid(0, 4),
             (QList<QByteArray>{"NUMOFRECORDS=??;", "DATETIME:A001=??;", "ACTIVITY:A001=??;", "DATETIME:A002=??;"}));
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(table()->columnCount(), 0);
    QCOMPARE(form().Installation()->Archive->RecordCount(), 0);
    checkHandedBack();
}

void TestArchivePage::operatorStopsALongRead_data()
{
    QTest::addColumn<bool>("byEsc");
    QTest::newRow("Esc") << true;
    QTest::newRow("Отменить") << false;
}

void TestArchivePage::operatorStopsALongRead()
{
    QFETCH(bool, byEsc);
    QVERIFY(startOnArchivePage({"--records", "200"}));
    form().SetTestMode(false);
    QSignalSpy started(&form(), &TMainForm::CommandStarted);
    QAction *requestAction = named<QToolButton>("RequestButton")->defaultAction();
    QSignalSpy requestTriggered(requestAction, &QAction::triggered);

    // While the read runs the program handles its events between records:
    // a timer of no delay fires there. After the third record it looks at
    // the program as the operator would, tries to start other work, and
    // stops the read.
    struct Seen {
        bool looked = false;
        QWidget *modal = nullptr;
        bool cancelShown = false;
        int overall = -1;
        QString overallText, recordText;
        int startedDuring = -1;
    } seen;
    QTimer operatorHand;
    operatorHand.setInterval(0);
    connect(&operatorHand, &QTimer::timeout, this, [&] {
        TWaitWindow2Btn *wait = form().WaitWindow2Btn;
        if (!wait->isVisible() || form().Installation()->Archive->RecordCount() < 3)
            return;
        operatorHand.stop();
        seen.looked = true;
        seen.modal = QApplication::activeModalWidget();
        seen.cancelShown = wait->CancelBtn->isVisible() && wait->CancelBtn->isEnabled();
        seen.overall = wait->GlobalWaitProgressBar->value();
        seen.overallText = wait->GlobalWaitProgressBar->text();
        seen.recordText = wait->WaitProgressBar->text();
        if (const QString out = qEnvironmentVariable("KVARN_GRAB_DIR"); !out.isEmpty())
            wait->grab().save(out + QStringLiteral("/archive-read.png"));
        // A click on the main window's read button does not get through,
        // and no command starts, from the operator or from a timer.
        QToolButton *request = named<QToolButton>("RequestButton");
        QTest::mouseClick(form().windowHandle(), Qt::LeftButton, {}, request->mapTo(&form(), request->rect().center()));
        form().RequestButtonClick();
        form().TestModeRequestTimerTimer();
        form().ExecuteCommand(cmdReadCommon);
        seen.startedDuring = int(started.count());
        if (byEsc)
            QTest::keyClick(wait, Qt::Key_Escape);
        else
            QTest::mouseClick(wait->CancelBtn, Qt::LeftButton);
    });
    prompt_->ExpectExec([&](QDialog &) {
        operatorHand.start();
        return int(QDialog::Accepted);
    });
    readArchive();

    QVERIFY(seen.looked);
    QCOMPARE(seen.modal, static_cast<QWidget *>(form().WaitWindow2Btn));
    QVERIFY(seen.cancelShown);
    QVERIFY(seen.overall > 0);
    // The bars say what they count: the records read of those asked for,
    // the time left, and the record under way.
    QVERIFY2(QRegularExpression(u8("^Прочитано 3 записи из 200, осталось около \\d+ (мин \\d+ )?с$"))
                 .match(seen.overallText)
                 .hasMatch(),
             qPrintable(seen.overallText));
    QVERIFY2(seen.recordText.startsWith(u8("Запись 4: ")), qPrintable(seen.recordText));
    QCOMPARE(seen.startedDuring, 1); // the archive read alone
    QCOMPARE(requestTriggered.count(), 1); // the click that started the read

    // Three records read, shown, and said so in the terminal; nothing else
    // went to the installation.
    QCOMPARE(requestsSince(),
             QList<QByteArray>{"NUMOFRECORDS=??;"} + recordRequests({"DATETIME", "ACTIVITY"}, 1, 1, 3));
    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(cell(2, 1), replied("ACTIVITY:A003"));
    TTerminalListBox *terminal = form().Terminal();
    QCOMPARE(terminal->item(terminal->count() - 1)->text(),
             u8("Чтение архива остановлено оператором: прочитано 3 записи из 200"));
    QVERIFY(prompt_->Messages().isEmpty());
    checkHandedBack();
    // The page itself says so too (the terminal may be hidden from the
    // operator), while it is the page shown.
    QLabel *note = named<QLabel>("ArchiveNotePanel");
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), u8("Прочитано 3 записи из 200 (чтение остановлено)"));
    selectTab("MainPageControl", pgTerminal - 1);
    QVERIFY(!note->isVisible());
    selectTab("MainPageControl", pgArchive - 1);
    QVERIFY(note->isVisible());

    // What was read can be saved.
    const QString path = filePath(QStringLiteral("part.daf"));
    prompt_->ExpectSaveFile(path);
    click("ToolButton2");
    TDeviceArchive saved;
    QVERIFY(saved.LoadFromFile(path));
    QCOMPARE(saved.RecordCount(), 3);
    QCOMPARE(FromCp1251(saved.GetRecord(2)->VarList->GetItem(1)->Value), cell(2, 1));
    // The note stays until the next load (or read).
    QVERIFY(note->isVisible());
    prompt_->ExpectOpenFile(path);
    click("ToolButton1");
    QVERIFY(!note->isVisible() && note->text().isEmpty());

}

void TestArchivePage::archiveFiles()
{
    QVERIFY(startOnArchivePage({}));
    const QByteArray withDescriptions = Cp("DATETIME  Дата и время измерения\r\n"
                                           "ACTIVITY  Измеренная величина (Бк/м**3)\r\n"
                                           "\r\n\r\n"
                                           "DATETIME             ACTIVITY  \r\n"
                                           "05/03/2004 14.07.00  12.5      \r\n"
                                           "05/03/2004 14.17.00  1.23E3    \r\n");
    const QByteArray withoutDescriptions = "STATUS  ALARM1ON  \r\n48      1         \r\n";

    // Loaded and saved again byte for byte; the file dialogs offer archives.
    for (const QByteArray &contents : {withDescriptions, withoutDescriptions}) {
        const QString in = filePath(QStringLiteral("in.daf"));
        const QString out = filePath(QStringLiteral("out.daf"));
        QVERIFY(writeFileBytes(in, contents));
        prompt_->ExpectOpenFile(in);
        click("ToolButton1");
        QCOMPARE(prompt_->Log().last().text, kArchiveFilter);
        QVERIFY(table()->rowCount() > 0);
        prompt_->ExpectSaveFile(out);
        named<QAction>("N6")->trigger();
        QCOMPARE(prompt_->Log().last().text, kArchiveFilter);
        QCOMPARE(readFileBytes(out), contents);
    }
    QCOMPARE(header(), (QStringList{"STATUS", "ALARM1ON"}));
    QCOMPARE(cell(0, 0), QStringLiteral("48"));

    // Cancelled dialogs change nothing.
    prompt_->ExpectOpenFile(QString());
    click("ToolButton1");
    prompt_->ExpectSaveFile(QString());
    click("ToolButton2");
    QCOMPARE(table()->rowCount(), 1);
    QVERIFY(prompt_->Messages().isEmpty());

    // A file that does not load: the warning with its reason and an empty
    // page; the archive shown before can still be saved.
    const QString binary = filePath(QStringLiteral("binary.daf")), noColumns = filePath(QStringLiteral("blank.daf"));
    QVERIFY(writeFileBytes(binary, QByteArray("DATETIME\r\n\x01\x02\r\n", 14)));
    QVERIFY(writeFileBytes(noColumns, "\r\n\r\n"));
    const QString unreadable = u8("Файл не удаётся прочитать: его нет, это не обычный файл или нет прав на чтение.");
    const QList<QPair<QString, QString>> badFiles = {
        {filePath(QStringLiteral("missing.daf")), unreadable},
        {dir_->path(), unreadable},
        {binary, u8("В файле управляющие символы или байты вне кодовой страницы 1251: это не файл архива.")},
        {noColumns, u8("В файле нет строки с именами столбцов.")}};
    for (const auto &[bad, reason] : badFiles) {
        prompt_->ExpectOpenFile(bad);
        prompt_->ExpectWarning();
        named<QAction>("N5")->trigger();
        QCOMPARE(prompt_->Messages().last(), u8("Чтение архива из файла не удалось! ") + reason);
        QCOMPARE(table()->rowCount(), 0);
    }
    const QString kept = filePath(QStringLiteral("kept.daf"));
    prompt_->ExpectSaveFile(kept);
    click("ToolButton2");
    QCOMPARE(readFileBytes(kept), withoutDescriptions);

    // A save that fails says so, in its own words.
    prompt_->ExpectSaveFile(filePath(QStringLiteral("no/such/folder/a.daf")));
    prompt_->ExpectWarning();
    click("ToolButton2");
    QCOMPARE(prompt_->Messages().last(), u8("Запись архива из файла не удалось!"));

    // None of it went to the installation, or changed the exchange state.
    QVERIFY(sim_->RequestLines().isEmpty());
    QCOMPARE(form().ExchangeState, quint8(esIdle));
}

void TestArchivePage::screenshots()
{
    // With KVARN_GRAB_DIR set, the page after a read and the selection
    // window are saved as PNG to look at.
    const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (out.isEmpty())
        QSKIP("KVARN_GRAB_DIR is not set");
    QVERIFY(startOnArchivePage({"--records", "40"}));
    prompt_->ExpectExec([&](QDialog &d) {
        auto &selector = static_cast<TArchiveParamSelector &>(d);
        selector.SetChecked(1, true);
        selector.SetChecked(10, true);
        d.show();
        if (!QTest::qWaitForWindowExposed(&d))
            return int(QDialog::Rejected);
        QTest::mouseMove(selector.VarListGrid->viewport(), QPoint(40, 5 * 18 + 5));
        selector.ShowReference(4);
        d.grab().save(out + QStringLiteral("/archive-selector.png"));
        return int(QDialog::Accepted);
    });
    readArchive();
    view()->ShowColumnReference(3);
    QVERIFY(form().grab().save(out + QStringLiteral("/archive-page.png")));
}

QTEST_MAIN(TestArchivePage)
#include "tst_archivepage.moc"
