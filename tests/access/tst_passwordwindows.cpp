#include "access/enterpasswordwindow.h"
#include "access/passwordisincorrectwindow.h"
#include "access/passwords.h"
#include "access/widgetpasswordasker.h"
#include "base/cp1251.h"
#include "ui/operatorprompt.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace {

// Types text key by key, as the keyboard would (any characters, not only Latin-1).
void typeInto(QLineEdit *edit, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(edit, &press);
        QApplication::sendEvent(edit, &release);
    }
}

// Answers every modal window with a script instead of showing it.
class ScriptedPrompt : public OperatorPrompt {
public:
    std::function<int(QDialog &)> onExec;
    QStringList shown;     // object names of the windows, in order
    QStringList fieldSeen; // the password field as each password window opened
    int messageBoxes = 0;

    void Warning(const QString &) override { ++messageBoxes; }
    void Information(const QString &) override { ++messageBoxes; }
    void Error(const QString &) override { ++messageBoxes; }
    bool Confirm(const QString &) override { ++messageBoxes; return false; }
    QString OpenFileName(const QString &, const QString &) override { return {}; }
    QString SaveFileName(const QString &, const QString &) override { return {}; }
    int Exec(QDialog &dialog) override
    {
        shown << dialog.objectName();
        if (auto *form = qobject_cast<TEnterPasswordForm *>(&dialog))
            fieldSeen << form->PasswordEdit->text();
        return onExec ? onExec(dialog) : int(QDialog::Accepted);
    }
};

// Types text into the password window and confirms it with OK.
std::function<int(QDialog &)> typeAndConfirm(const QString &text, int result = QDialog::Accepted)
{
    return [text, result](QDialog &dialog) {
        if (auto *form = qobject_cast<TEnterPasswordForm *>(&dialog)) {
            typeInto(form->PasswordEdit, text);
        }
        return result;
    };
}

} // namespace

class TestPasswordWindows : public QObject {
    Q_OBJECT
private slots:
    void enterAcceptsEscapeCancels();
    void charactersOutsideTheCodePageAreRefused();
    void enterPasswordThroughTheWindows();
};

void TestPasswordWindows::enterAcceptsEscapeCancels()
{
    struct Case {
        const char *typed;
        Qt::Key key;
        int result;
    };
    const Case cases[] = {
        {"secret", Qt::Key_Return, QDialog::Accepted},
        {"", Qt::Key_Enter, QDialog::Accepted}, // an empty entry is an entry
        {"secret", Qt::Key_Escape, QDialog::Rejected},
    };
    TEnterPasswordForm form;
    for (const Case &c : cases) {
        form.setResult(-1);
        form.SetPassword(QString());
        form.show();
        QVERIFY(form.isVisible());
        QTest::keyClicks(form.PasswordEdit, QString::fromLatin1(c.typed));
        QTest::keyClick(form.PasswordEdit, c.key);
        QCOMPARE(form.result(), c.result);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.Password(), QString::fromLatin1(c.typed));
    }

    // The field has the focus on entry and its text is not selected.
    form.SetPassword(QStringLiteral("abc"));
    form.show();
    QCOMPARE(form.focusWidget(), form.PasswordEdit);
    QVERIFY(!form.PasswordEdit->hasSelectedText());
    form.hide();

    TPasswordIsIncorrectForm bad;
    bad.show();
    QTest::keyClick(bad.OkBtn, Qt::Key_Return);
    QVERIFY(!bad.isVisible());
    QCOMPARE(bad.result(), int(QDialog::Accepted));
}

void TestPasswordWindows::charactersOutsideTheCodePageAreRefused()
{
    TEnterPasswordForm form;
    typeInto(form.PasswordEdit, QStringLiteral("a字bЖ"));
    QCOMPARE(form.Password(), QStringLiteral("abЖ"));
    QTest::keyClick(form.PasswordEdit, Qt::Key_Backspace);
    QCOMPARE(form.Password(), QStringLiteral("ab"));
}

// The whole entry through the two windows: the field is empty whenever the
// password window opens, typed Cyrillic arrives in code page 1251, and only a
// wrong entry brings up the second window.
void TestPasswordWindows::enterPasswordThroughTheWindows()
{
    QTemporaryDir dir;
    QFile plain(dir.filePath("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write(Cp("3;4; Админ\r\n"));
    plain.close();

    ScriptedPrompt prompt;
    WidgetPasswordAsker asker(prompt);
    TPasswords passwords(true, &asker);
    QVERIFY(passwords.LoadSourcePasswordsList(plain.fileName()));
    QByteArray password, privilege;

    prompt.onExec = typeAndConfirm(QStringLiteral("Админ"));
    QVERIFY(passwords.EnterPassword(password, privilege));
    QCOMPARE(privilege, QByteArray("3;4;"));

    prompt.onExec = typeAndConfirm(QStringLiteral("админ"));
    QVERIFY(!passwords.EnterPassword(password, privilege));
    QCOMPARE(password, Cp("админ"));

    prompt.onExec = typeAndConfirm(QStringLiteral("Админ"), QDialog::Rejected);
    QVERIFY(!passwords.EnterPassword(password, privilege));

    QCOMPARE(prompt.shown, QStringList({"EnterPasswordForm", "EnterPasswordForm", "PasswordIsIncorrectForm",
                                        "EnterPasswordForm"}));
    QCOMPARE(prompt.fieldSeen, QStringList({"", "", ""}));
    QCOMPARE(prompt.messageBoxes, 0);
}

QTEST_MAIN(TestPasswordWindows)
#include "tst_passwordwindows.moc"
