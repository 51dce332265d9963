// The reports of the menu "Файл" on the window: the archive shown and the
// spectrum loaded from a file saved as PDF, printed and previewed (the
// same pages each time), a long report cancelled from the wait window, and
// the items off on pages that have nothing to report.

#include "app/waitwindow.h"
#include "instrument/radiationspectr.h"
#include "support/pdfpages.h"
#include "support/windowonsim.h"
#include "views/archiveparamselector.h"
#include "instrument/ormak.h"

#include <QAction>
#include <QDateTime>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

namespace {
// An archive file of that many records, 10 s apart.
QByteArray archiveFile(int records)
{
    QByteArray text = "DATETIME             SERIALN  ALARM1  ACTIVITY  \r\n";
    const QDateTime start(QDate(2026, 12, 6), QTime(6, 0), QTimeZone::utc());
    for (int i = 0; i < records; ++i)
        text += start.addSecs(10 * i).toString("dd/MM/yyyy hh.mm.ss").toLatin1() + "  77-01    50      " +
                QByteArray::number(i % 60).leftJustified(8) + "  \r\n";
    return text;
}
} // namespace

class TestReportMenu : public QObject, WindowOnSim {
    Q_OBJECT
private slots:
    void init() { initWindow(); }
    void cleanup() { cleanupWindow(); }

    void archiveReport();
    void reportOfRecordsRead();
    void spectrumReport();
    void cancelledReport();

private:
    void trigger(const char *item) { named<QAction>(item)->trigger(); }
    bool openArchive(int records)
    {
        const QString daf = filePath("shown.daf");
        if (!startInstallation() || !makeForm(kAllPrivileges) || !writeFileBytes(daf, archiveFile(records)))
            return false;
        selectTab("MainPageControl", 2);
        prompt_->ExpectOpenFile(daf);
        click("ToolButton1");
        return true;
    }
};

void TestReportMenu::archiveReport()
{
    QVERIFY(openArchive(150));
    const QString pdf = filePath("report.pdf");
    prompt_->ExpectSaveFile(pdf);
    trigger("ReportPdfItem");
    const int pages = pageCount(pdf);
    QVERIFY(pages >= 2);
    const QString text = pageTexts(pdf).join(u'\f');
    for (const QString &expected : {QString("77-01"), filePath("shown.daf"), QString("Число значений:\\s+150"),
                                    QString("06/12/2026 06.00.00"), QString("06/12/2026 06.24.50"),
                                    QString("стр. %1 из %1").arg(pages)})
        QVERIFY2(text.contains(QRegularExpression(expected)), qPrintable(expected));

    // Printed: the printer's own page, the same report.
    const QString printed = filePath("printed.pdf");
    prompt_->ExpectExec([&](QDialog &dialog) {
        QPrinter *printer = qobject_cast<QPrintDialog *>(&dialog)->printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printed);
        return int(QDialog::Accepted);
    });
    trigger("PrintItem");
    QVERIFY(pageTexts(printed).join(u'\f').contains("06/12/2026 06.24.50"));

    // Previewed: the preview shows as many pages as the printer would get.
    int previewPages = -1, printerPages = -2;
    bool readable = false;
    prompt_->ExpectExec([&](QDialog &dialog) {
        auto *preview = dialog.findChild<QPrintPreviewWidget *>();
        // At a size to read: the page as wide as the window.
        readable = preview->zoomMode() == QPrintPreviewWidget::FitToWidth && dialog.width() >= 800 &&
                   dialog.height() >= 600;
        preview->updatePreview();
        previewPages = preview->pageCount();
        printerPages = pageCount(printed);
        return int(QDialog::Rejected);
    });
    trigger("PreviewItem");
    QCOMPARE(previewPages, printerPages);
    QVERIFY(readable);

    // Nothing to report on the terminal page.
    selectTab("MainPageControl", 3);
    QVERIFY(!named<QAction>("ReportPdfItem")->isEnabled());
    QVERIFY(!named<QAction>("PrintItem")->isEnabled());
}

// Records 3 to 6 of the installation's 12, after "Общее" was read: the
// report names those records, the time they span and the serial number read.
void TestReportMenu::reportOfRecordsRead()
{
    QVERIFY(startInstallation({"--records", "12", "--set", "SERIALN=5678"}));
    QVERIFY(makeForm(kAllPrivileges));
    click("RequestButton");
    selectTab("MainPageControl", 2);
    prompt_->ExpectExec([](QDialog &d) {
        auto &selector = static_cast<TArchiveParamSelector &>(d);
        selector.SetLowRange(3);
        selector.SetHighRange(6);
        return int(QDialog::Accepted);
    });
    click("RequestButton");
    QCOMPARE(form().Installation()->Archive->RecordCount(), 4);
    const QString pdf = filePath("read.pdf");
    prompt_->ExpectSaveFile(pdf);
    trigger("ReportPdfItem");
    const QString text = pageTexts(pdf).value(0);
    for (const QString &expected : {QString("Заводской номер:\\s+5678"), QString("Период:\\s+с \\d\\d/.* по \\d\\d/"),
                                    QString("Записи:\\s+4 \\(№ 3–6 из 12\\)"), QString("ACTIVITY, Бк/м³")})
        QVERIFY2(text.contains(QRegularExpression(expected)), qPrintable(expected + "\n" + text));
    QVERIFY(!text.contains(QString("весь архив")));
}

void TestReportMenu::spectrumReport()
{
    QVERIFY(startInstallation());
    QVERIFY(makeForm(kAllPrivileges));
    TRadiationSpectr spectrum;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        spectrum.SetCount(c, 1000 / (1 + std::abs(c - 300)));
    spectrum.CoefA = 3.25L;
    const QString spc = filePath("cs137.spc");
    QVERIFY(spectrum.SaveToFile(spc));
    selectTab("MainPageControl", 1);
    // Without a spectrum the operator is told so.
    prompt_->ExpectWarning();
    trigger("ReportPdfItem");
    prompt_->ExpectOpenFile(spc);
    click("ToolButton1");
    const QString pdf = filePath("spectrum.pdf");
    prompt_->ExpectSaveFile(pdf);
    trigger("ReportPdfItem");
    QCOMPARE(pageCount(pdf), 1);
    const QString text = pageTexts(pdf).value(0);
    for (const QString &expected : {spc, QString("Основной спектр"), QString("3.25"), QString("стр. 1 из 1")})
        QVERIFY2(text.contains(expected), qPrintable(expected));
    QVERIFY(bluePixels(pdf, 1, dir_->path()) > 20);
}

void TestReportMenu::cancelledReport()
{
    QVERIFY(openArchive(3000));
    const QString pdf = filePath("long.pdf");
    prompt_->ExpectSaveFile(pdf);
    // "Отменить" pressed while the first pages are drawn.
    QTimer::singleShot(0, form().WaitWindow2Btn->CancelBtn, &QPushButton::click);
    trigger("ReportPdfItem");
    QVERIFY(form().WaitWindow2Btn->CancelRequested());
    QVERIFY(!QFile::exists(pdf));
    QVERIFY(form().WaitWindow2Btn->isHidden());
}

QTEST_MAIN(TestReportMenu)
#include "tst_reportmenu.moc"
