// The main window's commands of the page "Архив": reading the archive from
// the installation.

#include "app/mainform.h"

void TMainForm::CmdReadArchive()
{
    ExchangeState = esReading;
    // The record count, the selection dialog, the archive read and its view
    // come with the archive view.
    ExchangeState = esIdle;
}
