#pragma once
// The two "Подождите" windows shown while an exchange blocks the program:
// a message and the progress of the running transaction (moved by the
// protocol driver), and for the archive a second bar with the progress over
// the whole archive. The operator cannot close them; the command that showed
// one hides it again.

#include "base/sinks.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

// A progress bar the exchange moves while it blocks the event loop: every
// new position is painted at once.
class TWaitProgressBar : public QProgressBar, public ProgressSink {
    Q_OBJECT
public:
    explicit TWaitProgressBar(QWidget *parent = nullptr);

    int Minimum() const override;
    int Maximum() const override;
    // Positions outside the range are clamped into it.
    void SetPosition(int position) override;
    // After each move, handle the events that are waiting (painting, and
    // the input of the one modal window that may take any).
    void SetHandlesEvents(bool on) { handlesEvents_ = on; }

signals:
    // A new position is about to be painted (a label may follow it).
    void PositionSet(int position);

private:
    bool handlesEvents_ = false;
};

class TWaitWindow : public QWidget {
    Q_OBJECT
public:
    explicit TWaitWindow(QWidget *parent = nullptr);

    // Sets the message, shows the window in the middle of the screen and
    // paints it before returning (the exchange that follows blocks the event loop).
    void ShowWait(const QString &message);

    QFrame *Panel1 = nullptr;
    QLabel *MessagePanel = nullptr;
    TWaitProgressBar *WaitProgressBar = nullptr;

protected:
    TWaitWindow(QWidget *parent, int clientHeight, int panelHeight);
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

// The archive's wait window: the transaction bar and the whole-archive bar,
// and "Отменить" (or Esc), which asks the read to stop after the record it
// is reading. Reading a long archive takes hours at the installation's line
// rate; the operator must have a way out that keeps what was read.
//
// While it is shown the window is modal for the whole program: nothing else
// takes input. Each move of the whole-archive bar (once per record) lets it
// repaint and answer the button.
class TWaitWindow2Btn : public TWaitWindow {
    Q_OBJECT
public:
    explicit TWaitWindow2Btn(QWidget *parent = nullptr);

    // Shows the window with a fresh "Отменить" and unlabelled bars.
    void ShowWait(const QString &message);
    // Labels the bars of an archive read: the record under way, and the
    // records read of those asked for with the time left at the pace so far.
    void ShowRecordCount(qint64 done, qint64 total);
    bool CancelRequested() const { return cancelRequested_; }

    TWaitProgressBar *GlobalWaitProgressBar = nullptr;
    QPushButton *CancelBtn = nullptr;

signals:
    // The operator asked to stop; given once per showing.
    void Cancelled();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void CancelBtnClick();

    bool cancelRequested_ = false;
    QElapsedTimer shown_;
};
