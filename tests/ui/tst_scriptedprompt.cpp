// The tests' stand-in for the operator: answers in the order queued, and a
// prompt nobody scripted fails the test at once with a cautious answer
// instead of waiting.

#include "support/scriptedprompt.h"

#include <QDialog>
#include <QTest>

class TestScriptedPrompt : public QObject {
    Q_OBJECT
private slots:
    void answersInOrder();
    void unscriptedPromptFailsWithoutWaiting();
};

void TestScriptedPrompt::answersInOrder()
{
    ScriptedPrompt p;
    bool seen = false;
    p.ExpectConfirm(true, [&] { seen = true; });
    p.ExpectWarning();
    p.ExpectExec([](QDialog &d) {
        d.setObjectName(QStringLiteral("touched"));
        return int(QDialog::Accepted);
    });
    p.ExpectSaveFile(QStringLiteral("a.spc"));
    QVERIFY(p.Confirm(QStringLiteral("q")) && seen);
    p.Warning(QStringLiteral("w"));
    QDialog dialog;
    QCOMPARE(p.Exec(dialog), int(QDialog::Accepted));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.objectName(), QStringLiteral("touched"));
    QCOMPARE(p.SaveFileName(QStringLiteral("*.spc"), QStringLiteral("spc")), QStringLiteral("a.spc"));
    QCOMPARE(p.Messages(), (QStringList{"q", "w"}));
    QCOMPARE(p.PendingAnswers(), 0);

    p.AllowUnscriptedMessages(true);
    p.Information(QStringLiteral("i"));
    QCOMPARE(p.Messages(ScriptedPrompt::Kind::Information), QStringList{"i"});
    QVERIFY(p.Unexpected().isEmpty());
}

void TestScriptedPrompt::unscriptedPromptFailsWithoutWaiting()
{
    ScriptedPrompt p;
    p.ExpectWarning();
    QEXPECT_FAIL("", "a confirmation where a warning was scripted", Continue);
    QVERIFY(!p.Confirm(QStringLiteral("leave?"))); // No, the cautious answer
    QCOMPARE(p.Unexpected().size(), 1);
}

QTEST_MAIN(TestScriptedPrompt)
#include "tst_scriptedprompt.moc"
