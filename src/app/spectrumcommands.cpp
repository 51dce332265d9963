// The main window's commands of the page "Спектр": reading the two spectra
// from the installation, and loading and saving the spectrum of the active
// sub-page's view as a spectrum file.

#include "app/mainform.h"

#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "instrument/ormak.h"
#include "instrument/radiationspectr.h"
#include "instrument/spectrumformats.h"
#include "ui/u8.h"
#include "views/spectrview.h"

#include <QFileInfo>

namespace {
constexpr const char *kSpectrumFilter = "Файлы спектральных характеристик|*.spc|ANSI N42.42 (XML)|*.n42|"
                                       "IAEA SPE|*.spe|CSV (канал, энергия, счёт)|*.csv|Все файлы|*.*";
constexpr const char *kSpectrumSuffix = "spc";

// The reason a spectrum file is refused, in the window's words.
QString SpectrumProblemText(TSpectrumFileProblem problem)
{
    switch (problem) {
    case TSpectrumFileProblem::ChannelCount: return u8("В файле не 1024 канала.");
    case TSpectrumFileProblem::Counts: return u8("Счёт канала в файле — не целое число допустимой величины.");
    case TSpectrumFileProblem::Calibration: return u8("Калибровка по энергии в файле — не прямая линия.");
    case TSpectrumFileProblem::Layout: return u8("Файл не соответствует своему формату.");
    case TSpectrumFileProblem::File:
    case TSpectrumFileProblem::None: break;
    }
    return u8("Файл не удаётся прочитать.");
}

// What keeps a file from loading as a spectrum file (.spc): a header and
// 1024 counts of four bytes.
QString spcProblemText(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return u8("Файла нет.");
    if (!info.isFile())
        return u8("Это не обычный файл.");
    if (info.size() < TRadiationSpectr::FileSize)
        return u8("Файл короче файла спектра: %1 из %2.")
            .arg(CountWithNoun(info.size(), "байт", "байта", "байт"))
            .arg(TRadiationSpectr::FileSize);
    return u8("Файл не удаётся прочитать.");
}
} // namespace

void TMainForm::CmdReadSpectrum(TCommand command)
{
    const bool background = command == cmdReadBackgroundSpectrum;
    ExchangeState = esReading;
    WaitWindow->ShowWait(u8(background ? "загрузка фонового спектра VIVUVO" : "загрузка спектра VIVUVO"));
    bool ok = false;
    if (Device)
        ok = background ? Device->ReadBackgroundSpectrum() : Device->ReadSpectrum();
    WaitWindow->hide();
    if (ok && Device->LastSpectrumChannels() < TRadiationSpectr::ChannelCount)
        LogOnTerminal(ToCp1251(u8("спектр неполный: получено каналов %1 из %2, остальные нулевые")
                                   .arg(Device->LastSpectrumChannels())
                                   .arg(TRadiationSpectr::ChannelCount)));
    if (ok) {
        // The view takes its own copy: the installation's spectrum stays as read.
        if (background)
            BackgroundSpectrView->ShowSpectrum(*Device->BackgroundSpectrum);
        else
            MainSpectrView->ShowSpectrum(*Device->Spectrum);
        NoteOrigin(background ? BackgroundSpectrView : MainSpectrView, QString());
    } else {
        Prompt().Warning(u8("Спектр считан неудачно. Отображение невозможно"));
    }
    ExchangeState = esIdle;
}

TSpectrView *TMainForm::ActiveSpectrView() const
{
    switch (ActivePages().SpectrSubPage) {
    case spMainSpectr:
        return MainSpectrView;
    case spBackgroundSpectr:
        return BackgroundSpectrView;
    default:
        return nullptr;
    }
}

void TMainForm::CmdLoadSpectrumFile()
{
    TSpectrView *view = ActiveSpectrView();
    if (!view)
        return;
    const QString fileName = Prompt().OpenFileName(u8(kSpectrumFilter), QLatin1String(kSpectrumSuffix));
    if (fileName.isEmpty())
        return;
    // Only the view takes what was loaded; a file that does not load leaves
    // it as it was, and the operator is told. Nothing reaches the installation.
    const std::optional<TSpectrumFormat> format = SpectrumFormatOf(fileName);
    if (!format || format == TSpectrumFormat::Spc) {
        TRadiationSpectr loaded;
        if (loaded.LoadFromFile(fileName)) {
            view->ShowSpectrum(loaded);
            NoteOrigin(view, fileName);
        } else {
            Prompt().Warning(u8("Чтение спектра из файла не удалось! ") + spcProblemText(fileName));
        }
        return;
    }
    // The other formats are read strictly, and the warning says why. The
    // background view takes a file's background spectrum when it has one.
    TSpectrumFile file;
    TSpectrumFileProblem problem;
    if (!ReadSpectrumFile(fileName, file, nullptr, &problem)) {
        Prompt().Warning(u8("Чтение спектра из файла не удалось! ") + SpectrumProblemText(problem));
        return;
    }
    view->ShowSpectrum(view == BackgroundSpectrView && file.Background ? *file.Background : file.Main);
    NoteOrigin(view, fileName);
}

void TMainForm::CmdSaveSpectrumFile()
{
    TSpectrView *view = ActiveSpectrView();
    if (!view || !view->ViewSpectrum())
        return;
    const QString fileName = Prompt().SaveFileName(u8(kSpectrumFilter), QLatin1String(kSpectrumSuffix));
    if (fileName.isEmpty())
        return;
    // What the view shows, with its own calibration. The save replaces the
    // file only once it is written whole; when it cannot, the operator must
    // know that the spectrum is not in the file.
    const std::optional<TSpectrumFormat> format = SpectrumFormatOf(fileName);
    bool saved = false;
    if (!format || format == TSpectrumFormat::Spc) {
        saved = view->ViewSpectrum()->SaveToFile(fileName);
    } else {
        // An N42 file holds both spectra once the background view has one.
        TSpectrumFile file;
        const TRadiationSpectr *background = BackgroundSpectrView->ViewSpectrum();
        const bool both = format == TSpectrumFormat::N42 && background && background->SumCounts(0, 1023) != 0 &&
                          MainSpectrView->ViewSpectrum();
        file.Main = both ? *MainSpectrView->ViewSpectrum() : *view->ViewSpectrum();
        if (both)
            file.Background = *background;
        saved = WriteSpectrumFile(fileName, file, nullptr);
    }
    if (!saved)
        Prompt().Warning(u8("Сохранить спектр в файле не удалось"));
}
