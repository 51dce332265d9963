// The settings window, offscreen, with the operator played through the
// scripted prompt: its controls, Cancel undoing every edit, OK taking typed
// texts, and the keyboard.

#include "base/cp1251.h"
#include "serial/compropertiesdialog.h"
#include "support/scriptedprompt.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

QList<QComboBox *> Boxes(TComPropertiesDialog &d)
{
    return {d.PortNumCBox, d.SpeedCBox,      d.StopBitCBox,   d.ParitetCBox,
            d.PeriodCBox,  d.DTRcontrolCBox, d.RTScontrolCBox};
}

QStringList Texts(TComPropertiesDialog &d)
{
    QStringList t;
    for (QComboBox *b : Boxes(d))
        t << b->currentText();
    return t;
}

void Type(QComboBox *box, const QString &text)
{
    QLineEdit *edit = box->lineEdit();
    edit->selectAll();
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(edit, char(c.unicode()));
        else // letters beyond ASCII have no key code of their own
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
}

// Types into every box, then leaves the window by the given button.
std::function<int(QDialog &)> EditAllThenPress(const QString &button, const QStringList &typed)
{
    return [button, typed](QDialog &dialog) {
        auto &d = static_cast<TComPropertiesDialog &>(dialog);
        d.show();
        const QList<QComboBox *> boxes = Boxes(d);
        for (int i = 0; i < boxes.size(); ++i)
            Type(boxes[i], typed[i]);
        d.findChild<QPushButton *>(button)->click();
        return d.result();
    };
}

const QStringList Typed{"/dev/ttyACM0", "250000 бод", "1 Bit", "even ", "сразу", "On", ""};

} // namespace

class TestComPropertiesDialog : public QObject {
    Q_OBJECT
private slots:
    void controls();
    void tabOrder();
    void cancelRestoresEveryBox();
    void okTakesTypedTexts();
    void keyboard();
    void editorOutlivingItsWindow();
};

void TestComPropertiesDialog::controls()
{
    TComPropertiesDialog d;
    QCOMPARE(d.windowTitle(), QString::fromUtf8("Параметры внешнего канала"));
    QCOMPARE(d.size(), QSize(260, 225));
    QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(d.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(d.btOK->isDefault());
    QCOMPARE(d.btOK->text() + d.btCancel->text(), QString("OKCancel"));

    const QList<QList<QByteArray>> items{TComSettings::PortItems(),     TComSettings::TransferRateItems(),
                                         TComSettings::StopBitsItems(), TComSettings::ParitetItems(),
                                         TComSettings::LatencyPeriodItems(), TComSettings::LineControlItems(),
                                         TComSettings::LineControlItems()};
    const QList<QComboBox *> boxes = Boxes(d);
    for (int i = 0; i < boxes.size(); ++i) {
        QVERIFY(boxes[i]->isEditable());
        for (int k = 0; k < items[i].size(); ++k) // the port list goes on with the ports found
            QCOMPARE(boxes[i]->itemText(k), QString::fromLatin1(items[i][k]));
    }
    QCOMPARE(Texts(d), (QStringList{"COM1", "9600 baud", "1 bit", "None", "Approximately 0.25 second",
                                    "Disable", "Disable"}));

    QStringList labels;
    for (QLabel *l : d.findChildren<QLabel *>())
        labels << l->text();
    for (const char *text : {"Номер COM порта", "Скорость обмена", "Кол-во стоп-битов", "Четность",
                             "Время допустимой задержки на приеме", "Бит DTR", "Бит RTS"})
        QVERIFY2(labels.contains(QString::fromUtf8(text)), text);
}

void TestComPropertiesDialog::tabOrder()
{
    TComPropertiesDialog d;
    const QStringList expected{"PortNumCBox", "SpeedCBox",  "btOK",           "btCancel",      "StopBitCBox",
                               "ParitetCBox", "PeriodCBox", "DTRcontrolCBox", "RTScontrolCBox"};
    QStringList seen;
    QWidget *w = d.PortNumCBox;
    for (int guard = 0; guard < 100 && seen.size() < expected.size(); ++guard) {
        if (expected.contains(w->objectName()) && !seen.contains(w->objectName()))
            seen << w->objectName();
        w = w->nextInFocusChain();
    }
    QCOMPARE(seen, expected);
}

void TestComPropertiesDialog::cancelRestoresEveryBox()
{
    ScriptedPrompt prompt;
    TComPropertiesEditor editor(prompt);
    TRS232Channel ch;
    // The texts before include ones that are no list items, and an empty one.
    ch.Settings().PortNumber = "my port";
    ch.Settings().StopBits = "";
    ch.Settings().Paritet = Cp("нет");
    const TComSettings before = ch.Settings();

    prompt.ExpectExec(EditAllThenPress("btCancel", Typed));
    QVERIFY(!ch.Configure(editor));
    QVERIFY(ch.Settings() == before);
    QCOMPARE(Texts(editor.Dialog()), (QStringList{"my port", "9600 baud", "", QString::fromUtf8("нет"),
                                                  "Approximately 0.25 second", "Disable", "Disable"}));
    QVERIFY(prompt.Unexpected().isEmpty());
    QCOMPARE(prompt.PendingAnswers(), 0);
}

void TestComPropertiesDialog::okTakesTypedTexts()
{
    ScriptedPrompt prompt;
    TComPropertiesEditor editor(prompt);
    TRS232Channel ch;
    ch.Settings().WriteTimeOutConstant = 40;
    prompt.ExpectExec(EditAllThenPress("btOK", Typed));
    QVERIFY(ch.Configure(editor));
    const TComSettings &s = ch.Settings();
    QCOMPARE(s.PortNumber, QByteArray("/dev/ttyACM0"));
    QCOMPARE(s.TransferRate, Cp("250000 бод"));
    QCOMPARE(s.StopBits, QByteArray("1 Bit"));
    QCOMPARE(s.Paritet, QByteArray("even ")); // the trailing blank is kept
    QCOMPARE(s.LatencyPeriod, Cp("сразу"));
    QCOMPARE(s.DTRControl, QByteArray("On"));
    QCOMPARE(s.RTSControl, QByteArray());
    QCOMPARE(s.WriteTimeOutConstant, 40); // no box: untouched
    // Typed texts are not added to the lists.
    QCOMPARE(editor.Dialog().SpeedCBox->count(), 17);

    // Shown again, the window holds the current settings.
    prompt.ExpectExec([](QDialog &dialog) {
        auto &d = static_cast<TComPropertiesDialog &>(dialog);
        return d.PortNumCBox->currentText() == "/dev/ttyACM0" ? int(QDialog::Rejected) : 99;
    });
    QVERIFY(!ch.Configure(editor));
    QCOMPARE(ch.Settings().PortNumber, QByteArray("/dev/ttyACM0"));
}

void TestComPropertiesDialog::keyboard()
{
    ScriptedPrompt prompt;
    TComPropertiesEditor editor(prompt);
    TRS232Channel ch;

    // Esc cancels.
    prompt.ExpectExec([](QDialog &dialog) {
        auto &d = static_cast<TComPropertiesDialog &>(dialog);
        d.show();
        Type(d.SpeedCBox, "1200 baud");
        QTest::keyClick(&d, Qt::Key_Escape);
        return d.result();
    });
    QVERIFY(!ch.Configure(editor));
    QCOMPARE(ch.Settings().TransferRate, QByteArray("9600 baud"));

    // OK has the focus when the window opens: Enter confirms.
    prompt.ExpectExec([](QDialog &dialog) {
        auto &d = static_cast<TComPropertiesDialog &>(dialog);
        d.show();
        if (!QTest::qWaitForWindowActive(&d))
            return 99;
        const bool okFocused = QApplication::focusWidget() == d.btOK;
        d.SpeedCBox->setEditText("1200 baud");
        QTest::keyClick(d.btOK, Qt::Key_Return);
        return okFocused ? d.result() : 98;
    });
    QVERIFY(ch.Configure(editor));
    QCOMPARE(ch.Settings().TransferRate, QByteArray("1200 baud"));

    // Enter in a box confirms the window with the text as typed: a text that
    // differs from an item only in letter case stays as it is.
    prompt.ExpectExec([](QDialog &dialog) {
        auto &d = static_cast<TComPropertiesDialog &>(dialog);
        d.show();
        Type(d.ParitetCBox, "even");
        QTest::keyClick(d.ParitetCBox->lineEdit(), Qt::Key_Return);
        return d.result();
    });
    QVERIFY(ch.Configure(editor));
    QCOMPARE(ch.Settings().Paritet, QByteArray("even"));
}

void TestComPropertiesDialog::editorOutlivingItsWindow()
{
    ScriptedPrompt prompt;
    auto parent = std::make_unique<QWidget>();
    TComPropertiesEditor editor(prompt, parent.get());
    parent.reset(); // the main window goes first and takes the dialog with it
    TComSettings s;
    QVERIFY(!editor.Edit(s));
    QCOMPARE(prompt.Log().size(), 0);
}

QTEST_MAIN(TestComPropertiesDialog)
#include "tst_compropertiesdialog.moc"
