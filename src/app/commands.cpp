#include "app/commands.h"

const char *CommandName(TCommand command)
{
    static const char *const names[kCommandCount] = {
        "cmdSetupSerialPort", "cmdReadCommon",      "cmdReadCounter",       "cmdReadService",
        "cmdWriteCommon",     "cmdWriteDevice",     "cmdWriteAlarmUnit",    "cmdWriteCounter",
        "cmdWriteService",    "cmdToggleTestMode",  "cmdTestPoll",          "cmdReadSpectrum",
        "cmdReadBackgroundSpectrum", "cmdSetTestModePause", "cmdLoadSpectrumFile", "cmdSaveSpectrumFile",
        "cmdEnterPassword",   "cmdReadArchive",     "cmdLoadArchiveFile",   "cmdSaveArchiveFile",
        "cmdAbout",           "cmdExit",
    };
    const int i = int(command);
    return i >= 0 && i < kCommandCount ? names[i] : "";
}

bool IsReadCommand(TCommand command)
{
    switch (command) {
    case cmdReadCommon:
    case cmdReadCounter:
    case cmdReadService:
    case cmdTestPoll:
    case cmdReadSpectrum:
    case cmdReadBackgroundSpectrum:
    case cmdReadArchive:
        return true;
    default:
        return false;
    }
}

bool IsWriteCommand(TCommand command)
{
    switch (command) {
    case cmdWriteCommon:
    case cmdWriteDevice:
    case cmdWriteAlarmUnit:
    case cmdWriteCounter:
    case cmdWriteService:
        return true;
    default:
        return false;
    }
}

std::optional<TCommand> SettingsReadCommand(int settingsSubPage)
{
    switch (settingsSubPage) {
    case spCommon:
        return cmdReadCommon;
    case spCounter:
        return cmdReadCounter;
    case spService:
        return cmdReadService;
    default:
        return std::nullopt;
    }
}

std::optional<TCommand> RequestCommand(const TPageSelection &selection)
{
    switch (selection.Page) {
    case pgSettings:
        return SettingsReadCommand(selection.SettingsSubPage);
    case pgSpectr:
        if (selection.SpectrSubPage == spMainSpectr)
            return cmdReadSpectrum;
        if (selection.SpectrSubPage == spBackgroundSpectr)
            return cmdReadBackgroundSpectrum;
        return std::nullopt;
    case pgArchive:
        return cmdReadArchive;
    default:
        return std::nullopt;
    }
}

std::optional<TCommand> DispatchCommand(const TPageSelection &selection)
{
    if (selection.Page != pgSettings)
        return std::nullopt;
    switch (selection.SettingsSubPage) {
    case spCommon:
        return cmdWriteCommon;
    case spCounter:
        return cmdWriteCounter;
    case spService:
        return cmdWriteService;
    default:
        return std::nullopt;
    }
}

namespace {
// The file commands of "Спектр" work on the view of the active sub-page.
bool spectrumViewActive(const TPageSelection &selection)
{
    return selection.Page == pgSpectr
        && (selection.SpectrSubPage == spMainSpectr || selection.SpectrSubPage == spBackgroundSpectr);
}
} // namespace

std::optional<TCommand> LoadFileCommand(const TPageSelection &selection)
{
    if (spectrumViewActive(selection))
        return cmdLoadSpectrumFile;
    if (selection.Page == pgArchive)
        return cmdLoadArchiveFile;
    return std::nullopt;
}

std::optional<TCommand> SaveFileCommand(const TPageSelection &selection)
{
    if (spectrumViewActive(selection))
        return cmdSaveSpectrumFile;
    if (selection.Page == pgArchive)
        return cmdSaveArchiveFile;
    return std::nullopt;
}

TPageControls PageControls(int page)
{
    switch (page) {
    case pgSettings:
        return {false, true, true};
    case pgSpectr:
        return {true, true, true};
    case pgArchive:
        return {true, true, false};
    default: // the terminal, or no page at all
        return {false, false, false};
    }
}
