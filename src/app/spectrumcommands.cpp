// The main window's commands of the page "Спектр": reading the two spectra
// from the installation, and loading and saving the spectrum of the active
// sub-page's view as a spectrum file.

#include "app/mainform.h"

#include "app/waitwindow.h"
#include "instrument/ormak.h"
#include "instrument/radiationspectr.h"
#include "ui/u8.h"
#include "views/spectrview.h"

namespace {
constexpr const char *kSpectrumFilter = "Файлы спектральных характеристик|*.spc|Все файлы|*.*";
constexpr const char *kSpectrumSuffix = "spc";
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
    TRadiationSpectr loaded;
    if (loaded.LoadFromFile(fileName)) {
        view->ShowSpectrum(loaded);
        NoteOrigin(view, fileName);
    } else {
        Prompt().Warning(u8("Чтение спектра из файла не удалось!"));
    }
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
    if (!view->ViewSpectrum()->SaveToFile(fileName))
        Prompt().Warning(u8("Сохранить спектр в файле не удалось"));
}
