// The window "Параметры архива": the marks in the grid by mouse and keys, the
// three number fields and their limits, the record count, the result of a
// confirmation, and the templates (*.ash) through scripted file dialogs.

#include "views/archiveparamselector.h"

#include "base/cp1251.h"
#include "support/filebytes.h"
#include "support/scriptedprompt.h"
#include "support/varlists.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

// The installation's twelve archive variables, their descriptions and the
// default choice.
const QList<QByteArray> kArchiveVars = {"DATETIME",  "SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT",
                                        "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                        "ALARM1ON",  "ALARM2ON", "STATUS",       "ACTIVITY"};
const int kActivityRow = 11;

QList<QByteArray> descriptions()
{
    QList<QByteArray> texts;
    for (const QByteArray &name : kArchiveVars)
        texts.append(Cp("Описание ") + name);
    return texts;
}
} // namespace

class TestArchiveParamSelector : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void windowAndFirstUse();
    void confirmAndCancel();
    void marksByMouseAndKeys();
    void fieldLimits_data();
    void fieldLimits();
    void recordCount();
    void templateText_data();
    void templateText();
    void templatesThroughTheButtons();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScriptedPrompt> prompt_;
    std::unique_ptr<TArchiveParamSelector> window_;
    TArchiveParamSelector &w() { return *window_; }
    QList<int> markedRows() const
    {
        QList<int> rows;
        for (int r = 0; r < kArchiveVars.size(); ++r)
            if (window_->IsChecked(r))
                rows.append(r);
        return rows;
    }
    QString cellText(int row, int column) const
    {
        return window_->VarListGrid->model()->index(row, column).data().toString();
    }
    void moveMouse(int row)
    {
        QWidget *viewport = w().VarListGrid->viewport();
        const QPoint pos = w().VarListGrid->visualRect(w().VarListGrid->model()->index(row, 0)).center();
        QMouseEvent move(QEvent::MouseMove, pos, viewport->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(viewport, &move);
    }
    QPoint cell(int row, int column)
    {
        return w().VarListGrid->visualRect(w().VarListGrid->model()->index(row, column)).center();
    }
    void confirm() { prompt_->ExpectExec([](QDialog &) { return int(QDialog::Accepted); }); }
};

void TestArchiveParamSelector::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    prompt_ = std::make_unique<ScriptedPrompt>();
    window_ = std::make_unique<TArchiveParamSelector>(*prompt_);
    auto texts = std::make_unique<TOPVarList>();
    for (const QByteArray &d : descriptions())
        texts->Add(d);
    w().AssignVarLists(varListOf(kArchiveVars).get(), texts.get(), varListOf({"DATETIME", "ACTIVITY"}).get());
}

void TestArchiveParamSelector::cleanup()
{
    window_.reset();
    QVERIFY2(prompt_->Unexpected().isEmpty(), qPrintable(prompt_->Unexpected().join(u'\n')));
    QCOMPARE(prompt_->PendingAnswers(), 0);
}

void TestArchiveParamSelector::windowAndFirstUse()
{
    QCOMPARE(w().windowTitle(), u8("Параметры архива"));
    QCOMPARE(w().size(), QSize(349, 543));
    const struct {
        const char *name;
        const char *text;
        QRect geometry;
    } controls[] = {
        {"Label2", "Содержание архива", {4, 2, 341, 20}},
        {"Label1", "Шаг выборки записей из архива", {4, 17, 237, 22}},
        {"Label3", "Выбирать записи с ", {6, 47, 127, 22}},
        {"Label4", "по", {224, 47, 33, 22}},
        {"BitBtn3", "Сбросить", {8, 448, 97, 25}},
        {"BitBtn1", "Загрузить", {124, 448, 99, 25}},
        {"BitBtn2", "Сохранить", {242, 448, 99, 25}},
        {"OKBtn", "OK", {48, 506, 99, 25}},
        {"CancelBtn", "Отменить", {202, 506, 99, 25}},
    };
    for (const auto &c : controls) {
        QWidget *widget = w().findChild<QWidget *>(QLatin1String(c.name));
        QVERIFY2(widget, c.name);
        QCOMPARE(widget->geometry(), c.geometry);
        const QString text = qobject_cast<QLabel *>(widget) ? static_cast<QLabel *>(widget)->text()
                                                            : static_cast<QPushButton *>(widget)->text();
        QCOMPARE(text, u8(c.text));
        // No clipped Cyrillic.
        QVERIFY2(widget->fontMetrics().horizontalAdvance(text) + (qobject_cast<QPushButton *>(widget) ? 24 : 0)
                     <= widget->width(),
                 c.name);
    }
    QCOMPARE(w().VarListGrid->geometry(), QRect(4, 26, 341, 293));

    // One row per variable; DATETIME and ACTIVITY marked; every variable in
    // the result until the first confirmation.
    QCOMPARE(w().VarListGrid->model()->rowCount(), 12);
    QCOMPARE(cellText(4, 0), QStringLiteral("DRYCONTACTTHR"));
    QCOMPARE(markedRows(), (QList<int>{0, kActivityRow}));
    QCOMPARE(cellText(0, 1), QStringLiteral(" V"));
    QCOMPARE(cellText(1, 1), QString());
    QCOMPARE(namesOf(w().ResultVarList()), kArchiveVars);

    w().SetTotalArchSize(300);
    QCOMPARE(w().Step(), 1);
    QCOMPARE(w().LowRange(), 1);
    QCOMPARE(w().HighRange(), 300);
    QCOMPARE(w().ToNumEdit->text(), QStringLiteral("300"));
    QCOMPARE(w().OptionsGB->title(), u8(" Настройки выборки  (архив содержит 300 записей) "));
}

void TestArchiveParamSelector::confirmAndCancel()
{
    // Cancel keeps the result; Esc is cancel.
    prompt_->ExpectExec([this](QDialog &d) {
        w().SetChecked(3, true);
        d.show();
        QTest::keyClick(&d, Qt::Key_Escape);
        return d.result();
    });
    QVERIFY(!w().Execute());
    QCOMPARE(namesOf(w().ResultVarList()), kArchiveVars);

    // OK gives the marked rows in row order, whatever order they were marked in.
    prompt_->ExpectExec([this](QDialog &d) {
        w().SetChecked(kActivityRow, false);
        w().SetChecked(10, true);
        d.show();
        QTest::mouseClick(w().OKBtn, Qt::LeftButton);
        return d.result();
    });
    QVERIFY(w().Execute());
    QCOMPARE(namesOf(w().ResultVarList()), (QList<QByteArray>{"DATETIME", "DRYCONTACTOUT", "STATUS"}));
    QVERIFY(!w().isVisible());

    // Nothing marked: an empty result, and true.
    w().ApplyMask(varListOf({}).get());
    confirm();
    QVERIFY(w().Execute());
    QCOMPARE(w().ResultVarList()->Count(), 0);

    // Rows outside the grid are left alone.
    w().SetChecked(-1, true);
    w().SetChecked(12, true);
    QVERIFY(!w().IsChecked(12));
    QVERIFY(markedRows().isEmpty());
}

void TestArchiveParamSelector::marksByMouseAndKeys()
{
    w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&w()));
    QTableView *grid = w().VarListGrid;
    QVERIFY(grid->hasFocus()); // the grid takes the focus when the window shows

    // The current row and its description follow the mouse.
    moveMouse(5);
    QCOMPARE(w().CurrentRow(), 5);
    QCOMPARE(w().VarRefPanel->text(), u8("Описание KOEFFICIENT"));
    QCOMPARE(markedRows(), (QList<int>{0, kActivityRow}));

    // A click on the mark toggles; a click on the name does not; a double
    // click on the name does.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell(2, 1));
    QCOMPARE(markedRows(), (QList<int>{0, 2, kActivityRow}));
    QCOMPARE(w().VarRefPanel->text(), u8("Описание DRYCONTACTIN"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell(2, 1));
    QCOMPARE(markedRows(), (QList<int>{0, kActivityRow}));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell(3, 0));
    QCOMPARE(markedRows(), (QList<int>{0, kActivityRow}));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell(3, 0));
    QCOMPARE(markedRows(), (QList<int>{0, 3, kActivityRow}));

    // Space toggles the current row; with Shift, Ctrl or Alt it does not.
    // The description follows the arrow keys.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(w().CurrentRow(), 4);
    QCOMPARE(w().VarRefPanel->text(), u8("Описание DRYCONTACTTHR"));
    QTest::keyClick(grid, Qt::Key_Space);
    QCOMPARE(markedRows(), (QList<int>{0, 3, 4, kActivityRow}));
    for (const Qt::KeyboardModifier m : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
        QTest::keyClick(grid, Qt::Key_Space, m);
    QCOMPARE(markedRows(), (QList<int>{0, 3, 4, kActivityRow}));
    QTest::keyClick(grid, Qt::Key_Space);
    QCOMPARE(markedRows(), (QList<int>{0, 3, kActivityRow}));

    // "Сбросить": the default marks and the whole archive.
    w().SetTotalArchSize(50);
    w().SetStep(4);
    w().SetLowRange(7);
    w().SetHighRange(9);
    QTest::mouseClick(w().BitBtn3, Qt::LeftButton);
    QCOMPARE(markedRows(), (QList<int>{0, kActivityRow}));
    QCOMPARE(w().Step(), 1);
    QCOMPARE(w().LowRange(), 1);
    QCOMPARE(w().HighRange(), 50);
}

void TestArchiveParamSelector::fieldLimits_data()
{
    QTest::addColumn<QList<int>>("sizes"); // given to TotalArchSize in turn
    QTest::addColumn<QString>("typed");    // into FromNumEdit, then the focus leaves
    QTest::addColumn<int>("given");        // then given through the setter
    QTest::addColumn<int>("afterTyping");
    QTest::addColumn<int>("afterGiving");
    // Bounds 1 and 1 are equal: no limit at all.
    QTest::newRow("size 1: any value") << QList<int>{1} << "500" << 70 << 500 << 70;
    QTest::newRow("within the archive") << QList<int>{100} << "42" << 99 << 42 << 99;
    QTest::newRow("above the archive") << QList<int>{100} << "500" << 101 << 100 << 100;
    QTest::newRow("no number reads as the lower bound") << QList<int>{100} << "-" << 0 << 1 << 1;
    QTest::newRow("below the lower bound") << QList<int>{100} << "-5" << -3 << 1 << 1;
    // Upper bound 0 under lower bound 1: every positive value becomes 0.
    QTest::newRow("size 0 after a size") << QList<int>{20, 0} << "5" << 3 << 0 << 0;
    QTest::newRow("negative size is 0") << QList<int>{20, -4} << "5" << 3 << 0 << 0;
    QTest::newRow("beyond 32 bits") << QList<int>{100} << "99999999999" << 2 << 1 << 2;
}

void TestArchiveParamSelector::fieldLimits()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QString, typed);
    QFETCH(int, given);
    QFETCH(int, afterTyping);
    QFETCH(int, afterGiving);

    w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&w()));
    for (int size : sizes)
        w().SetTotalArchSize(size);
    TSpinEdit *edit = w().FromNumEdit;
    edit->setFocus();
    QLineEdit *line = edit->findChild<QLineEdit *>();
    line->selectAll();
    QTest::keyClicks(line, typed);
    QCOMPARE(line->text(), typed); // digits and signs are taken as typed
    w().VarListGrid->setFocus();   // the limit applies when the focus leaves
    QCOMPARE(w().LowRange(), afterTyping);
    QCOMPARE(edit->Value(), afterTyping);
    w().SetLowRange(given);
    QCOMPARE(w().LowRange(), afterGiving);
    QCOMPARE(edit->text(), QString::number(afterGiving));

    // Letters are refused; the step buttons keep to the limits as well.
    line->selectAll();
    QTest::keyClicks(line, QStringLiteral("x"));
    QCOMPARE(line->text(), QString::number(afterGiving));
    edit->stepBy(1);
    QCOMPARE(w().LowRange(), edit->CheckValue(afterGiving + 1));
}

void TestArchiveParamSelector::recordCount()
{
    w().SetTotalArchSize(300);
    w().SetStep(3);
    w().SetLowRange(10);
    w().SetHighRange(20);
    // The same count again keeps the operator's choice.
    w().SetTotalArchSize(300);
    QCOMPARE(w().LowRange(), 10);
    QCOMPARE(w().HighRange(), 20);
    // A new count selects all of it; the step stays.
    w().SetTotalArchSize(120);
    QCOMPARE(w().LowRange(), 1);
    QCOMPARE(w().HighRange(), 120);
    QCOMPARE(w().Step(), 3);
    QCOMPARE(w().OptionsGB->title(), u8(" Настройки выборки  (архив содержит 120 записей) "));
    // The step is limited too, and the property is what the field shows.
    w().SetStep(500);
    QCOMPARE(w().Step(), 120);
    QCOMPARE(w().StepEdit->text(), QStringLiteral("120"));
    w().SetStep(0);
    QCOMPARE(w().Step(), 1);
}

void TestArchiveParamSelector::templateText_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::newRow("as written") << QByteArray("2\r\n3\r\n9\r\nDATETIME\r\nACTIVITY\r\n") << 2 << 3 << 9
                                << QList<QByteArray>{"DATETIME", "ACTIVITY"};
    QTest::newRow("blanks and control characters trimmed")
        << QByteArray(" 4 \t\r\n\x01" "5\r\n6\x1a\r\n  STATUS \r\n") << 4 << 5 << 6 << QList<QByteArray>{"STATUS"};
    QTest::newRow("no number: defaults") << QByteArray("two\r\n\r\n1.5\r\n") << 1 << 1 << 77 << QList<QByteArray>{};
    QTest::newRow("third line missing") << QByteArray("3\r\n4\r\n") << 3 << 4 << 77 << QList<QByteArray>{};
    QTest::newRow("empty file") << QByteArray() << 1 << 1 << 77 << QList<QByteArray>{};
    QTest::newRow("empty lines are names") << QByteArray("1\r\n1\r\n1\r\n\r\nSTATUS\r\n\r\n") << 1 << 1 << 1
                                           << QList<QByteArray>{"", "STATUS", ""};
    QTest::newRow("line feeds alone, no end at the last line")
        << QByteArray("2\n2\n2\nALARM1") << 2 << 2 << 2 << QList<QByteArray>{"ALARM1"};
    QTest::newRow("beyond 32 bits is no number") << QByteArray("4294967297\r\n-2147483648\r\n+5\r\n") << 1
                                                 << -2147483647 - 1 << 5 << QList<QByteArray>{};
}

void TestArchiveParamSelector::templateText()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, step);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(QList<QByteArray>, names);
    const TArchiveTemplate t = ParseTemplate(contents, 77);
    QCOMPARE(t.Step, step);
    QCOMPARE(t.LowRange, low);
    QCOMPARE(t.HighRange, high);
    QCOMPARE(t.Names, names);

    // The same through a file.
    const QString path = dir_->filePath(QStringLiteral("t.ash"));
    QVERIFY(writeFileBytes(path, contents));
    const std::optional<TArchiveTemplate> loaded = LoadTemplate(path, 77);
    QVERIFY(loaded);
    QCOMPARE(loaded->Names, names);
    QCOMPARE(loaded->HighRange, high);
}

void TestArchiveParamSelector::templatesThroughTheButtons()
{
    w().SetTotalArchSize(300);
    const QString path = dir_->filePath(QStringLiteral("choice.ash"));

    // Save: the marked rows in grid order and the three numbers.
    w().SetChecked(10, true);
    w().SetStep(2);
    w().SetLowRange(3);
    w().SetHighRange(9);
    prompt_->ExpectSaveFile(path);
    QTest::mouseClick(w().BitBtn2, Qt::LeftButton);
    QCOMPARE(readFileBytes(path), QByteArray("2\r\n3\r\n9\r\nDATETIME\r\nSTATUS\r\nACTIVITY\r\n"));
    QCOMPARE(prompt_->Log().last().text, u8("Файлы шаблонов выборки (*.ash);;Все файлы (*.*)"));
    // A file that cannot be written is not reported, and nothing changes.
    prompt_->ExpectSaveFile(dir_->filePath(QStringLiteral("no/such/folder/x.ash")));
    QTest::mouseClick(w().BitBtn2, Qt::LeftButton);
    QCOMPARE(w().Step(), 2);
    // Cancelled: nothing written.
    prompt_->ExpectSaveFile(QString());
    QTest::mouseClick(w().BitBtn2, Qt::LeftButton);

    // Load: names ignoring case, an unknown name ignored, the last record
    // limited to the archive.
    const QString other = dir_->filePath(QStringLiteral("other.ash"));
    QVERIFY(writeFileBytes(other, "5\r\n20\r\n1000\r\nactivity\r\nNOSUCH\r\nSerialN\r\n"));
    prompt_->ExpectOpenFile(other);
    QTest::mouseClick(w().BitBtn1, Qt::LeftButton);
    QCOMPARE(markedRows(), (QList<int>{1, kActivityRow}));
    QCOMPARE(w().Step(), 5);
    QCOMPARE(w().LowRange(), 20);
    QCOMPARE(w().HighRange(), 300);

    // A missing file, a folder, a file far larger than any template, or a
    // cancelled dialog changes nothing.
    const QString huge = dir_->filePath(QStringLiteral("huge.ash"));
    QVERIFY(writeFileBytes(huge, "1\r\n1\r\n1\r\n" + QByteArray(kMaxTemplateSize, 'A')));
    for (const QString &name : {dir_->filePath(QStringLiteral("missing.ash")), QString(), dir_->path(), huge}) {
        prompt_->ExpectOpenFile(name);
        QTest::mouseClick(w().BitBtn1, Qt::LeftButton);
        QCOMPARE(markedRows(), (QList<int>{1, kActivityRow}));
        QCOMPARE(w().Step(), 5);
    }

    // The saved template brings the earlier choice back.
    prompt_->ExpectOpenFile(path);
    QTest::mouseClick(w().BitBtn1, Qt::LeftButton);
    QCOMPARE(markedRows(), (QList<int>{0, 10, kActivityRow}));
    QCOMPARE(w().Step(), 2);
    QCOMPARE(w().LowRange(), 3);
    QCOMPARE(w().HighRange(), 9);

    // No list to save.
    QVERIFY(!SaveTemplate(path, nullptr, 1, 1, 1));
    QCOMPARE(readFileBytes(path), QByteArray("2\r\n3\r\n9\r\nDATETIME\r\nSTATUS\r\nACTIVITY\r\n"));
}

QTEST_MAIN(TestArchiveParamSelector)
#include "tst_archiveparamselector.moc"
