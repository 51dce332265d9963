// The reports of the menu "Файл" on the window: the archive shown and the
// spectrum loaded from a file saved as PDF, printed and previewed (the
// same pages each time), a long report cancelled from the wait window, and
// the items off on pages that have nothing to report.

#include "app/waitwindow.h"
#include "instrument/radiationspectr.h"
#include "support/pdfpages.h"
#include "support/windowonsim.h"

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
    prompt_->ExpectExec([&](QDialog &dialog) {
        auto *preview = dialog.findChild<QPrintPreviewWidget *>();
        preview->updatePreview();
        previewPages = preview->pageCount();
        printerPages = pageCount(printed);
        return int(QDialog::Rejected);
    });
    trigger("PreviewItem");
    QCOMPARE(previewPages, printerPages);

    // Nothing to report on the terminal page.
    selectTab("MainPageControl", 3);
    QVERIFY(!named<QAction>("ReportPdfItem")->isEnabled());
    QVERIFY(!named<QAction>("PrintItem")->isEnabled());
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
