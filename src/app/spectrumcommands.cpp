// The main window's commands of the page "Спектр": reading the two spectra
// from the installation.

#include "app/mainform.h"

void TMainForm::CmdReadSpectrum(TCommand /*command*/)
{
    ExchangeState = esReading;
    // The spectrum read and its view come with the spectrum views.
    ExchangeState = esIdle;
}
