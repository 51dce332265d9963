#include "access/enterpasswordwindow.h"
#include "access/passwordisincorrectwindow.h"
#include "access/passwords.h"
#include "access/widgetpasswordasker.h"
#include "app/operatorprompt.h"
#include "protocol/cp1251.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
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
            form->PasswordEdit->clear();
            typeInto(form->PasswordEdit, text);
        }
        return result;
    };
}

} // namespace

class TestPasswordWindows : public QObject {
    Q_OBJECT
private slots:
    void windowsHaveTheirTextsAndPictures();
    void enterAcceptsEscapeCancels();
    void fieldFollowsThePasswordProperty();
    void charactersOutsideTheCodePageAreRefused();
    void askerEmptiesTheFieldBeforeEveryShowing();
    void enterPasswordThroughTheWindows();
};

void TestPasswordWindows::windowsHaveTheirTextsAndPictures()
{
    TEnterPasswordForm enter;
    QCOMPARE(enter.windowTitle(), QStringLiteral("Пароль"));
    QCOMPARE(enter.Label1->text(), QStringLiteral("Пароль :"));
    QCOMPARE(enter.OkBtn->text(), QStringLiteral("OK"));
    QCOMPARE(enter.CancelBtn->text(), QStringLiteral("Отменить"));
    QCOMPARE(enter.PasswordEdit->echoMode(), QLineEdit::Password);
    QVERIFY(enter.OkBtn->isDefault());
    QVERIFY(!enter.CancelBtn->isDefault());
    QVERIFY(!(enter.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(enter.size(), QSize(357, 115));

    TPasswordIsIncorrectForm bad;
    QCOMPARE(bad.windowTitle(), QStringLiteral("Пароль"));
    QCOMPARE(bad.Label1->text(), QStringLiteral("Пароль набран неправильно!"));
    QCOMPARE(bad.OkBtn->text(), QStringLiteral("&Yes"));
    QVERIFY(bad.OkBtn->isDefault());

    // Open padlock with a yellow spark, closed one without.
    const QImage open = enter.Image1->pixmap().toImage();
    const QImage closed = bad.Image1->pixmap().toImage();
    QCOMPARE(open.size(), QSize(50, 50));
    QCOMPARE(closed.size(), QSize(50, 50));
    auto yellowPixels = [](const QImage &img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                n += c.alpha() > 200 && c.red() > 230 && c.green() > 210 && c.blue() < 80;
            }
        return n;
    };
    QVERIFY(yellowPixels(open) > 10);
    QCOMPARE(yellowPixels(closed), 0);
    QVERIFY(open != closed);
}

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

    TPasswordIsIncorrectForm bad;
    bad.show();
    QTest::keyClick(bad.OkBtn, Qt::Key_Return);
    QVERIFY(!bad.isVisible());
    QCOMPARE(bad.result(), int(QDialog::Accepted));
}

void TestPasswordWindows::fieldFollowsThePasswordProperty()
{
    TEnterPasswordForm form;
    form.SetPassword(QStringLiteral("abc"));
    QCOMPARE(form.PasswordEdit->text(), QStringLiteral("abc"));
    QTest::keyClick(form.PasswordEdit, Qt::Key_End);
    typeInto(form.PasswordEdit, QStringLiteral("Жд"));
    QCOMPARE(form.Password(), QStringLiteral("abcЖд"));
    QTest::keyClick(form.PasswordEdit, Qt::Key_Backspace);
    QCOMPARE(form.Password(), QStringLiteral("abcЖ"));
}

void TestPasswordWindows::charactersOutsideTheCodePageAreRefused()
{
    TEnterPasswordForm form;
    typeInto(form.PasswordEdit, QStringLiteral("a字b"));
    QCOMPARE(form.Password(), QStringLiteral("ab"));
    QCOMPARE(ToCp1251(form.Password()), QByteArray("ab"));
}

void TestPasswordWindows::askerEmptiesTheFieldBeforeEveryShowing()
{
    ScriptedPrompt prompt;
    WidgetPasswordAsker asker(prompt);
    QByteArray typed;

    prompt.onExec = typeAndConfirm(QStringLiteral("first"));
    QVERIFY(asker.AskPassword(typed));
    QCOMPARE(typed, QByteArray("first"));

    prompt.onExec = typeAndConfirm(QStringLiteral("Пароль"), QDialog::Rejected);
    QVERIFY(!asker.AskPassword(typed));
    QVERIFY(typed.isEmpty());

    prompt.onExec = typeAndConfirm(QStringLiteral("Пароль"));
    QVERIFY(asker.AskPassword(typed));
    QCOMPARE(typed, Cp("Пароль"));

    QCOMPARE(prompt.fieldSeen, QStringList({"", "", ""}));
    QCOMPARE(asker.EnterPasswordForm().Password(), QStringLiteral("Пароль"));
}

void TestPasswordWindows::enterPasswordThroughTheWindows()
{
    QTemporaryDir dir;
    QFile plain(dir.filePath("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write(Cp("3;4; Админ\r\n1-2; \r\n"));
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
    QVERIFY(privilege.isEmpty());

    prompt.onExec = typeAndConfirm(QString());
    QVERIFY(passwords.EnterPassword(password, privilege));
    QCOMPARE(privilege, QByteArray("1-2;"));

    prompt.onExec = typeAndConfirm(QStringLiteral("Админ"), QDialog::Rejected);
    QVERIFY(!passwords.EnterPassword(password, privilege));

    // Only the wrong entry brought up the second window; no message boxes.
    QCOMPARE(prompt.shown, QStringList({"EnterPasswordForm", "EnterPasswordForm", "PasswordIsIncorrectForm",
                                        "EnterPasswordForm", "EnterPasswordForm"}));
    QCOMPARE(prompt.fieldSeen, QStringList({"", "", "", ""}));
    QCOMPARE(prompt.messageBoxes, 0);
}

QTEST_MAIN(TestPasswordWindows)
#include "tst_passwordwindows.moc"
