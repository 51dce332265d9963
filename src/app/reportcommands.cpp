// The main window's reports: "Печать…", "Предварительный просмотр…" and
// "Сохранить отчёт в PDF…" of the menu "Файл" act on the active page, the
// spectrum of the active sub-page or the archive shown. The pages are laid
// out and drawn by the report library, the same for the printer, the
// preview and the PDF file; every dialog goes through the operator prompt.

#include "app/mainform.h"

#include "app/waitwindow.h"
#include "instrument/archivetable.h"
#include "instrument/devicearchive.h"
#include "protocol/opvarlist.h"
#include "instrument/radiationspectr.h"
#include "report/archivereport.h"
#include "report/spectrumreport.h"
#include "ui/u8.h"
#include "views/devicearchiveview.h"
#include "views/spectrpeaks.h"
#include "views/spectrview.h"

#include <QDateTime>
#include <cmath>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QScreen>
#include <QPrinter>
#include <QPushButton>

namespace {
constexpr const char *kPdfFilter = "Документы PDF (*.pdf);;Все файлы (*.*)";

// What the spectrum view shows, as its report takes it.
TSpectrumReportSource spectrumSource(const TSpectrView &view, const QString &name, const QString &origin)
{
    TSpectrumReportSource source;
    const TRadiationSpectr &spectrum = *view.ViewSpectrum();
    source.Name = name;
    source.Origin = origin;
    source.Plot = view.SpectrBox->Image().toImage();
    source.CoefA = spectrum.CoefA;
    source.CoefB = spectrum.CoefB;
    const TSpectrPlotFrame frame = view.PlotFrame();
    const int firstChannel = frame.Position * frame.Scale;
    source.FirstChannel = firstChannel;
    source.ChannelsPerColumn = frame.Scale;
    source.LogCounts = frame.LogScale;
    // The counts of a column at the plot's top and bottom rows, as the view scales it.
    const double peak = double(SpectrFramePeak(spectrum, frame));
    if (frame.LogScale) {
        const double top = std::log10(1 + peak);
        source.CountsTop = peak;
        source.CountsBottom = std::pow(10.0, top - SpectrLogDecades(top, frame.Zoom)) - 1;
    } else {
        source.CountsTop = frame.Zoom * 0.2 * peak;
    }
    QStringList shown{QStringLiteral("каналы %1–%2, %3 на точку")
                          .arg(firstChannel)
                          .arg(std::min(TRadiationSpectr::ChannelCount - 1, firstChannel + frame.Width * frame.Scale))
                          .arg(frame.Scale)};
    if (frame.LogScale)
        shown << QStringLiteral("логарифмическая шкала");
    if (frame.SubtractBackground && frame.Background)
        shown << QStringLiteral("фон вычтен");
    else if (frame.ShowBackground && frame.Background)
        shown << QStringLiteral("фоновый спектр показан зелёным");
    source.View = shown.join(QStringLiteral("; "));
    if (view.Marker1 != 0 || view.Marker2 != 0) {
        source.Marked = qMakePair(int(view.MarkerLow), int(view.MarkerHigh));
        source.Area = spectrum.SumCounts(view.MarkerLow, view.MarkerHigh);
        if (const TRadiationSpectr *background = view.BackgroundInUse())
            source.NetArea = *source.Area - background->SumCounts(view.MarkerLow, view.MarkerHigh);
    }
    if (!view.Peaks.empty()) {
        source.PeakHeadings = PeakTableHeadings();
        source.Peaks = PeakTableRows(view.Peaks);
    }
    return source;
}
// "№ 1–150 из 300": the installation's numbers of the first and last record
// (records read from it carry them as "A001"), and its record count when the
// records were read from it; empty when the records carry no numbers.
QString archiveRecordNumbers(const TDeviceArchive &archive, qint32 total)
{
    auto number = [&archive](int record) -> int {
        const TDeviceArchiveRecord *r = archive.GetRecord(record);
        if (!r || !r->VarList || r->VarList->Count() == 0)
            return 0;
        const QByteArray index = r->VarList->GetItem(0)->Index;
        bool ok = false;
        const int n = index.startsWith('A') ? index.mid(1).toInt(&ok) : 0;
        return ok ? n : 0;
    };
    const int first = number(0), last = number(archive.RecordCount() - 1);
    if (first <= 0 || last <= 0)
        return QString();
    QString text = QStringLiteral("№ %1–%2").arg(first).arg(last);
    if (total > 0)
        text += QStringLiteral(" из %1").arg(total);
    return text;
}
} // namespace

void TMainForm::NoteOrigin(QObject *view, const QString &fileName)
{
    origins_[view] = fileName.isEmpty() ? u8("прочитан из установки ") +
                                              QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"))
                                        : fileName;
}

std::unique_ptr<TReportDocument> TMainForm::ActivePageReport()
{
    const QString family = font().family();
    const TPageSelection pages = ActivePages();
    if (pages.Page == pgSpectr) {
        TSpectrView *view = ActiveSpectrView();
        // A view shows an empty spectrum until one is read or loaded.
        if (!view || !view->ViewSpectrum() || !origins_.contains(view)) {
            Prompt().Warning(u8("Нет спектра для отчёта: прочитайте его из прибора или из файла"));
            return nullptr;
        }
        TSpectrumReportSource source =
            spectrumSource(*view, view == MainSpectrView ? u8("Основной спектр") : u8("Фоновый спектр"),
                           origins_.value(view));
        source.FontFamily = family;
        return BuildSpectrumReport(source);
    }
    if (pages.Page == pgArchive) {
        const TDeviceArchive &archive = ArchiveView->ArchiveData();
        if (!archive.Names() || archive.RecordCount() == 0) {
            Prompt().Warning(u8("Нет архива для отчёта: прочитайте его из прибора или из файла"));
            return nullptr;
        }
        // The table reads the view's copy, which stays as it is while the
        // report is drawn: nothing else runs meanwhile.
        auto table = std::make_shared<TArchiveTable>(archive);
        TArchiveReportSource source;
        source.Records = table.get();
        source.Origin = origins_.value(ArchiveView);
        source.FontFamily = family;
        source.RecordNumbers = archiveRecordNumbers(archive, archiveTotal_);
        if (lastSerialDevice_ == deviceNumber_)
            source.Serial = lastSerial_;
        std::unique_ptr<TReportDocument> report = BuildArchiveReport(source);
        report->KeepAlive(table);
        return report;
    }
    return nullptr;
}

// Long reports show the archive's wait window: its bar moves page by page,
// and "Отменить" stops the report after the page being drawn.
namespace {
class ReportProgress {
public:
    explicit ReportProgress(TWaitWindow2Btn *window) : window_(window)
    {
        window_->ShowWait(u8("формирование отчёта"));
    }
    ~ReportProgress() { window_->hide(); }
    bool operator()(int done, int pages)
    {
        SetProgressPercent(window_->GlobalWaitProgressBar, int(qint64(done) * 100 / std::max(1, pages)));
        return !window_->CancelRequested();
    }

private:
    TWaitWindow2Btn *window_;
};
} // namespace

void TMainForm::SaveReportPdf()
{
    const std::unique_ptr<TReportDocument> report = ActivePageReport();
    if (!report)
        return;
    const QString fileName = Prompt().SaveFileName(u8(kPdfFilter), QStringLiteral("pdf"));
    if (fileName.isEmpty())
        return;
    TReportResult result;
    {
        ReportProgress progress(WaitWindow2Btn);
        result = WriteReportPdf(*report, fileName, std::ref(progress));
    }
    if (result == TReportResult::Failed)
        Prompt().Error(u8("Отчёт записать не удалось: ") + fileName);
}

void TMainForm::PrintReport()
{
    const std::unique_ptr<TReportDocument> report = ActivePageReport();
    if (!report)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(report->Title);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    if (Prompt().Exec(dialog) != QDialog::Accepted)
        return;
    TReportResult result;
    {
        ReportProgress progress(WaitWindow2Btn);
        result = report->Paint(printer, std::ref(progress));
    }
    if (result == TReportResult::Failed)
        Prompt().Error(u8("Отчёт напечатать не удалось"));
}

void TMainForm::PreviewReport()
{
    const std::unique_ptr<TReportDocument> report = ActivePageReport();
    if (!report)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(report->Title);
    QPrintPreviewDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("PrintPreviewDialog"));
    // Opened at a size to read, the page as wide as the window (Qt's own
    // default is a small window with the whole page in it).
    const QSize room = screen() ? screen()->availableGeometry().size() : QSize(1024, 768);
    dialog.resize(QSize(std::max(900, room.width() * 4 / 5), std::max(700, room.height() * 9 / 10)).boundedTo(room));
    if (auto *preview = dialog.findChild<QPrintPreviewWidget *>())
        preview->setZoomMode(QPrintPreviewWidget::FitToWidth);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [&report](QPrinter *target) {
        report->Paint(*target);
    });
    Prompt().Exec(dialog);
}
