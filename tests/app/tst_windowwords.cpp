// What the window says to the operator and how its pictures read, on the
// screen's own prompt where that is what matters: Qt's texts in Russian and
// the single Yes of the area's total, the file dialogs (Qt's own, which
// never read a file), the calibration window's first focus, the date
// picker's month names, the terminal page's times and saved log, the
// chart's value axis against its values and thresholds, and the log scale
// at two zooms.
//
// With KVARN_GRAB_DIR set, the file dialog, the chart and the log scale at
// zoom 1 and 5 are saved there as PNG pictures to look at.

#include "app/mainform.h"
#include "app/terminallistbox.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "serial/memoryline.h"
#include "support/scriptedprompt.h"
#include "support/varlists.h"
#include "ui/operatorprompt.h"
#include "ui/qttranslations.h"
#include "views/archivechartwindow.h"
#include "views/devicearchiveview.h"
#include "views/energycalibrationform.h"
#include "views/spectrview.h"

#include <QApplication>
#include <QChart>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QGraphicsSimpleTextItem>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <cmath>
#include <functional>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

QString plain(QString text)
{
    return text.remove(u'&');
}

// Runs `show` (which opens modal windows) while `operate` plays the
// operator in each modal window that comes up, until `show` returns.
void operateModals(const std::function<void()> &show, const std::function<void(QWidget *)> &operate)
{
    QTimer hand;
    hand.setInterval(10);
    QObject::connect(&hand, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            operate(modal);
    });
    hand.start();
    show();
}

// Saves a picture of the widget when KVARN_GRAB_DIR asks for pictures.
void grabForLooking(QWidget &widget, const char *name)
{
    const QString dir = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (!dir.isEmpty())
        QVERIFY(widget.grab().save(dir + QLatin1Char('/') + QLatin1String(name)));
}

// A caesium-137 spectrum as the installation measures it: a photopeak at
// channel 331, its Compton edge and continuum, and a falling background.
TRadiationSpectr caesiumSpectrum()
{
    TRadiationSpectr spectrum;
    for (int c = 0; c < 1024; ++c) {
        const double peak = 90000 * std::exp(-std::pow((c - 331) / 9.0, 2) / 2);
        const double compton = c < 230 ? 900 + 4 * c : c < 250 ? 1800 * (250 - c) / 20.0 : 0;
        const double falling = 20000 * std::exp(-c / 25.0) + 30 * std::exp(-c / 400.0);
        spectrum.SetCount(c, qint32(peak + compton + falling));
    }
    return spectrum;
}
} // namespace

class TestWindowWords : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void areaTotalHasASingleYes();
    void fileDialogsNeverReadFiles();
    void calibrationOpensOnOK();
    void datePickerNamesMonthsInRussian();
    void terminalTimesAndSavedLog();
    void chartFitsItsValues();
    void logScaleFillsThePlotAtEveryZoom();

private:
    QTemporaryDir dir_;
    TMemoryLine line_;
    std::unique_ptr<ScriptedPrompt> prompt_;
    std::unique_ptr<TMainForm> form_;
};

void TestWindowWords::initTestCase()
{
    QVERIFY(InstallQtTranslations(*qApp));
    QVERIFY(dir_.isValid());
    QVERIFY(QDir::setCurrent(dir_.path()));
    SetProgramDir(dir_.path());
}

void TestWindowWords::init()
{
    prompt_ = std::make_unique<ScriptedPrompt>();
}

void TestWindowWords::cleanup()
{
    form_.reset();
    QVERIFY2(prompt_->Unexpected().isEmpty(), qPrintable(prompt_->Unexpected().join(u'\n')));
    QCOMPARE(prompt_->PendingAnswers(), 0);
}

// The total's box: a single Yes, its text from Qt's translation (Russian on
// any system).
void TestWindowWords::areaTotalHasASingleYes()
{
    WidgetPrompt prompt;
    TSpectrView view(prompt);
    view.resize(400, 250);
    view.ShowSpectrum(caesiumSpectrum());
    view.Marker1 = 320;
    view.Marker2 = 340;
    QString text;
    QStringList buttons;
    operateModals([&] { view.OnPopupMenu1ClickCalculate(); },
                  [&](QWidget *modal) {
                      if (modal == view.AreaWindow) {
                          view.AreaWindow->OKBtn->click();
                      } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                          text = box->text();
                          for (QAbstractButton *b : box->buttons())
                              buttons << plain(b->text());
                          box->buttons().first()->click();
                      }
                  });
    QVERIFY(text.startsWith(u8("Площадь области между маркерами = ")));
    QCOMPARE(buttons, QStringList{u8("Да")});
}

// A file of an extension no type is known by is what Qt's own icon provider
// reads to guess its type: the dialogs' provider goes by the name alone.
void TestWindowWords::fileDialogsNeverReadFiles()
{
    const QString sniffed = dir_.filePath(QStringLiteral("dump.daf"));
    const QString empty = dir_.filePath(QStringLiteral("empty.daf"));
    QFile png(sniffed), blank(empty);
    QVERIFY(png.open(QIODevice::WriteOnly) && blank.open(QIODevice::WriteOnly));
    png.write(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    png.close();
    blank.close();
    QVERIFY(QFileIconProvider().type(QFileInfo(sniffed)).contains(QStringLiteral("PNG")));

    WidgetPrompt prompt;
    const QString chosen = dir_.filePath(QStringLiteral("log.txt"));
    QString accept, cancel, typeOfSniffed, typeOfEmpty;
    bool native = true;
    const QString name = [&] {
        QString result;
        operateModals([&] { result = prompt.SaveFileName(u8("Текстовые файлы (*.txt);;Все файлы (*.*)"), "txt"); },
                      [&](QWidget *modal) {
                          auto *dialog = qobject_cast<QFileDialog *>(modal);
                          QVERIFY(dialog);
                          native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
                          typeOfSniffed = dialog->iconProvider()->type(QFileInfo(sniffed));
                          typeOfEmpty = dialog->iconProvider()->type(QFileInfo(empty));
                          auto *box = dialog->findChild<QDialogButtonBox *>();
                          QPushButton *acceptButton = box->button(QDialogButtonBox::Save)
                                                          ? box->button(QDialogButtonBox::Save)
                                                          : box->button(QDialogButtonBox::Open);
                          accept = plain(acceptButton->text());
                          cancel = plain(box->button(QDialogButtonBox::Cancel)->text());
                          dialog->setDirectory(dir_.path());
                          dialog->selectFile(chosen);
                          QTest::qWait(50); // the listing, for the picture
                          grabForLooking(*dialog, "file-dialog.png");
                          acceptButton->click();
                      });
        return result;
    }();
    QCOMPARE(name, chosen);
    QVERIFY(!native);
    QCOMPARE(typeOfSniffed, typeOfEmpty);
    QVERIFY(!typeOfSniffed.contains(QStringLiteral("PNG")));
    QCOMPARE(accept, u8("Сохранить"));
    QCOMPARE(cancel, u8("Отмена"));
}

void TestWindowWords::calibrationOpensOnOK()
{
    TEnergyCalibrationForm form;
    form.SetCurChannel(12);
    for (int opening = 0; opening < 2; ++opening) {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.focusWidget(), static_cast<QWidget *>(form.OKBtn));
        // A digit typed at once goes nowhere near the channel.
        QTest::keyClick(form.focusWidget(), Qt::Key_5);
        QCOMPARE(form.ChannelEdit->text(), QStringLiteral("12"));
        form.ChannelEdit->setFocus(); // where the operator left it
        form.hide();
    }
}

void TestWindowWords::datePickerNamesMonthsInRussian()
{
    form_ = std::make_unique<TMainForm>(TMainFormSetup{prompt_.get(), line_.Factory()});
    auto *date = form_->findChild<QDateEdit *>(QStringLiteral("DevDate"));
    QCOMPARE(date->locale().language(), QLocale::Russian);
    date->setDate(QDate(2026, 12, 7));
    if (date->displayFormat().contains(QStringLiteral("MMM")))
        QVERIFY2(date->text().contains(QLocale(QLocale::Russian).monthName(12).left(3)), qPrintable(date->text()));
    // Only the picker: numbers keep the user's own format.
    QCOMPARE(QLocale(), QLocale::system());
}

void TestWindowWords::terminalTimesAndSavedLog()
{
    form_ = std::make_unique<TMainForm>(TMainFormSetup{prompt_.get(), line_.Factory()});
    TTerminalListBox *lb = form_->Terminal();
    auto *popup = form_->findChild<QMenu *>(QStringLiteral("TerminalPopupMenu"));
    QStringList items;
    for (QAction *a : popup->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{u8("Очистить окно терминала"), "-", u8("Показывать время строк"),
                                 u8("Сохранить журнал…")}));
    QVERIFY(lb->ShowTimesItem->isCheckable() && !lb->ShowTimesItem->isChecked());

    const QTime before = QTime::currentTime();
    lb->AppendLine(Cp("-> DATETIME=??;"));
    lb->AppendLine(Cp("<- Общее\r"));
    const QTime after = QTime::currentTime();
    QCOMPARE(lb->item(0)->text(), u8("-> DATETIME=??;")); // off at start: the lines as they are

    // Times in front of every line, including those already there, and off again.
    lb->ShowTimesItem->trigger();
    const QRegularExpression timed(QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d)  (.*)$"));
    QStringList shownTexts, timedLines;
    for (int i = 0; i < lb->count(); ++i) {
        const QRegularExpressionMatch m = timed.match(lb->item(i)->text());
        QVERIFY2(m.hasMatch(), qPrintable(lb->item(i)->text()));
        const QTime t = QTime::fromString(m.captured(1), QStringLiteral("hh:mm:ss.zzz"));
        QVERIFY(t >= before.addMSecs(-1) && t <= after.addMSecs(1));
        shownTexts << m.captured(2);
        timedLines << lb->item(i)->text();
    }
    QCOMPARE(shownTexts, (QStringList{u8("-> DATETIME=??;"), u8("<- Общее\u240D")}));
    lb->ShowTimesItem->trigger();
    QCOMPARE(lb->item(1)->text(), u8("<- Общее\u240D"));

    // The saved log: every line with its date and time, in UTF-8, whether times are shown or not.
    const QString path = dir_.filePath(QStringLiteral("journal.txt"));
    prompt_->ExpectSaveFile(path);
    lb->SaveLogItem->trigger();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd "));
    QCOMPARE(saved.readAll(), (today + timedLines.join(QLatin1Char('\n') + today) + QLatin1Char('\n')).toUtf8());
    // A folder that is not there: said so, nothing else changes.
    prompt_->ExpectSaveFile(dir_.filePath(QStringLiteral("no such folder/journal.txt")));
    prompt_->ExpectWarning();
    lb->SaveLogItem->trigger();
    QVERIFY(prompt_->Messages().value(0).startsWith(u8("Сохранить журнал в файле не удалось")));
    QCOMPARE(lb->count(), 2);

    // "Очистить окно терминала" empties it.
    form_->findChild<QAction *>(QStringLiteral("MenuItem1"))->trigger();
    QCOMPARE(lb->count(), 0);
}

// ACTIVITY about 150 under thresholds of 3000 and 6000, as the installation
// keeps them: the axis fits the activity, the thresholds are marks at the
// top edge, and the axis is titled with what the column holds.
void TestWindowWords::chartFitsItsValues()
{
    ScriptedPrompt prompt;
    TDeviceArchiveView view;
    view.SetPrompt(&prompt);
    QList<QList<QByteArray>> rows;
    const QDateTime start(QDate(2026, 12, 1), QTime(0, 0));
    for (int i = 0; i < 600; ++i)
        rows << QList<QByteArray>{start.addSecs(600 * i).toString("dd/MM/yyyy hh.mm.ss").toLatin1(),
                                  QByteArray::number(150 + 20 * std::sin(i / 30.0) + i % 7), "3000", "6000"};
    const QList<QByteArray> names{"DATETIME", "ACTIVITY", "ALARM1", "ALARM2"};
    view.SetColumns(varListOf(names).get(),
                    varListOf({Cp("Дата и время измерения"), Cp("Измеренная величина (Бк/м**3)"),
                               Cp("Порог 1 (Бк/м**3)"), Cp("Порог 2 (Бк/м**3)")})
                        .get());
    view.ShowArchive(*archiveOf(names, rows));
    view.OpenChart(1);
    TArchiveChartWindow *chart = view.ChartWindow;
    QVERIFY(chart && chart->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(chart));

    QCOMPARE(chart->ValueAxis->titleText(), u8("Измеренная величина (Бк/м**3)"));
    // The line fills most of the height: no threshold squeezes it.
    QVERIFY2(chart->ValueAxis->min() <= 124 && chart->ValueAxis->min() >= 50, qPrintable(QString::number(chart->ValueAxis->min())));
    QVERIFY2(chart->ValueAxis->max() >= 176 && chart->ValueAxis->max() <= 250, qPrintable(QString::number(chart->ValueAxis->max())));
    QVERIFY(!chart->Alarm1Series->isVisible() && !chart->Alarm2Series->isVisible());
    QCOMPARE(chart->Alarm1Mark->text(), u8("ALARM1 = 3000 ▲"));
    QCOMPARE(chart->Alarm2Mark->text(), u8("ALARM2 = 6000 ▲"));
    const QRectF plot = chart->Chart->plotArea();
    const QRectF mark1 = chart->Alarm1Mark->mapRectToParent(chart->Alarm1Mark->boundingRect());
    const QRectF mark2 = chart->Alarm2Mark->mapRectToParent(chart->Alarm2Mark->boundingRect());
    QVERIFY(plot.contains(mark1) && plot.contains(mark2) && !mark1.intersects(mark2));
    QVERIFY(mark1.top() < plot.top() + plot.height() / 4); // at the top edge
    grabForLooking(*chart, "chart.png");
}

// At every zoom the log scale puts the largest column on the top row; the
// zoom takes decades away from the bottom.
void TestWindowWords::logScaleFillsThePlotAtEveryZoom()
{
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    view.resize(520, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowSpectrum(caesiumSpectrum());
    view.LogScaleItem->setChecked(true);
    QList<int> onBottom;
    for (const int zoom : {1, 5, 101}) {
        view.VSpectrScrollBar->setValue(view.VSpectrScrollBar->maximum() - zoom + 1);
        const TSpectrPlotFrame frame = view.PlotFrame();
        int top = frame.Height;
        onBottom << 0;
        for (const TSpectrPlotPoint &p : SpectrPlotPoints(*view.ViewSpectrum(), frame)) {
            top = std::min(top, p.Point.y());
            onBottom.last() += p.Point.y() == frame.Height - 1;
        }
        QCOMPARE(top, 0);
        grabForLooking(view, qPrintable(QStringLiteral("log-zoom%1.png").arg(zoom)));
    }
    QCOMPARE(onBottom[0], 0); // zoom 1: every column above the bottom
    QVERIFY(onBottom[1] <= onBottom[2] && onBottom[2] > 0);
}

QTEST_MAIN(TestWindowWords)
#include "tst_windowwords.moc"
