#pragma once
// The main window against the installation emulator, as the window tests
// run it: a fresh folder that is both the program's ("commport.cfg") and the
// working one, the emulator on a pseudo-terminal with "commport.cfg"
// pointing at it, and the window with scripted operator answers. A test
// class derives from it next to QObject and calls initWindow() from init()
// and cleanupWindow() from cleanup(); cleanupWindow() fails the test when a
// prompt came unscripted or a scripted answer was left unused.
//
//   class TestX : public QObject, WindowOnSim { ...
//   void TestX::readsSomething()
//   {
//       QVERIFY(startInstallation({"--records", "5"}));
//       QVERIFY(makeForm(kAllPrivileges));
//       click("RequestButton");
//       QCOMPARE(requestsSince(mark), ...);

#include "app/mainform.h"
#include "support/filebytes.h"
#include "support/scriptedprompt.h"
#include "support/simprocess.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

inline const QByteArray kAllPrivileges = "1-1;1-2;1-3;2-1;2-2;3;4;";

inline QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

class WindowOnSim {
protected:
    void initWindow();
    void cleanupWindow();

    // Line settings of 9600 baud with the "Approximately 0.25 second" read
    // time-out, on the given port.
    bool writePortFile(const QByteArray &port);
    // Starts the emulator and points "commport.cfg" at it.
    bool startInstallation(const QStringList &options = {});
    // The window shown and exposed, with these privileges when given.
    bool makeForm(const QByteArray &privileges = {});

    TMainForm &form() { return *form_; }
    QString filePath(const QString &name) const { return dir_->filePath(name); }
    template <class T = QWidget>
    T *named(const char *name)
    {
        T *w = form_->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void click(const char *name);
    // A tab of the named tab widget, clicked as the operator would.
    void selectTab(const char *tabs, int index);
    // The emulator's requests since a mark, and the mark for the next look.
    QList<QByteArray> requestsSince(qsizetype &mark);
    // The last line on the terminal page.
    QString lastTerminalLine();

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScriptedPrompt> prompt_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TMainForm> form_;
};
