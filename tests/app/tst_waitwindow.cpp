// The two wait windows: what they show, that the operator cannot close them,
// and their progress bars as the exchange drives them.

#include "app/waitwindow.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}
} // namespace

class TestWaitWindow : public QObject {
    Q_OBJECT
private slots:
    void layoutOfBothWindows();
    void showWaitAndTheOperator();
    void progressFollowsThePercentages_data();
    void progressFollowsThePercentages();
};

void TestWaitWindow::layoutOfBothWindows()
{
    TWaitWindow one;
    TWaitWindow2Btn two;
    for (TWaitWindow *w : {&one, static_cast<TWaitWindow *>(&two)}) {
        QCOMPARE(w->windowTitle(), u8("Подождите"));
        QVERIFY(!(w->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint)));
        QCOMPARE(w->findChild<QLabel *>("MessagePanel"), w->MessagePanel);
        QCOMPARE(w->findChild<TWaitProgressBar *>("WaitProgressBar"), w->WaitProgressBar);
        QVERIFY(w->MessagePanel->font().bold());
        QCOMPARE(w->MessagePanel->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        QCOMPARE(w->WaitProgressBar->maximum(), 100);
    }
    QCOMPARE(one.size(), QSize(544, 93));
    QCOMPARE(two.size(), QSize(544, 161));
    QCOMPARE(two.findChild<TWaitProgressBar *>("GlobalWaitProgressBar"), two.GlobalWaitProgressBar);
    QVERIFY(two.GlobalWaitProgressBar->geometry().top() > two.WaitProgressBar->geometry().bottom());
    QCOMPARE(two.findChild<QPushButton *>("CancelBtn"), two.CancelBtn);
    QCOMPARE(two.CancelBtn->text(), u8("Отменить"));
    QVERIFY(!one.findChild<QPushButton *>());
}

void TestWaitWindow::showWaitAndTheOperator()
{
    TWaitWindow2Btn w;
    w.ShowWait(u8("загрузка параметров счетчика"));
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.MessagePanel->text(), u8("загрузка параметров счетчика"));
    QVERIFY(w.MessagePanel->fontMetrics().horizontalAdvance(w.MessagePanel->text())
            <= w.MessagePanel->contentsRect().width());
    // "Отменить" asks the read to stop, once; Esc is the same.
    QVERIFY(w.CancelBtn->isVisible());
    QVERIFY(w.CancelBtn->isEnabled());
    QVERIFY(w.isModal());
    QSignalSpy cancelled(&w, &TWaitWindow2Btn::Cancelled);
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(w.CancelRequested());
    QVERIFY(!w.CancelBtn->isEnabled());
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton);
    QCOMPARE(cancelled.count(), 1);

    // Neither Esc nor a close request takes it away; the command hides it.
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    w.ShowWait(u8("загрузка архива"));
    QCOMPARE(w.MessagePanel->text(), u8("загрузка архива"));
    QVERIFY(!w.CancelRequested()); // every showing starts afresh
    QVERIFY(w.CancelBtn->isEnabled());
    w.hide();
    QVERIFY(!w.isVisible());
}

void TestWaitWindow::progressFollowsThePercentages_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("position");
    QTest::newRow("start") << 0 << 100 << 0 << 0;
    QTest::newRow("quarter") << 0 << 100 << 25 << 25;
    QTest::newRow("end") << 0 << 100 << 100 << 100;
    QTest::newRow("offset range") << 10 << 20 << 50 << 15;
    QTest::newRow("truncated") << 0 << 3 << 50 << 1;
    QTest::newRow("beyond the end is clamped") << 0 << 100 << 150 << 100;
    QTest::newRow("below the start is clamped") << 0 << 100 << -20 << 0;
}

void TestWaitWindow::progressFollowsThePercentages()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, percent);
    QFETCH(int, position);

    TWaitWindow w;
    TWaitProgressBar *bar = w.WaitProgressBar;
    bar->setRange(minimum, maximum);
    ProgressSink &sink = *bar;
    QCOMPARE(sink.Minimum(), minimum);
    QCOMPARE(sink.Maximum(), maximum);
    SetProgressPercent(&sink, 60);
    SetProgressPercent(&sink, percent);
    QCOMPARE(bar->value(), position);
    ResetProgress(&sink);
    QCOMPARE(bar->value(), minimum);
}

QTEST_MAIN(TestWaitWindow)
#include "tst_waitwindow.moc"
