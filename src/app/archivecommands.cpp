// The main window's commands of the page "Архив": reading the archive from
// the installation, and loading and saving archive files.

#include "app/mainform.h"

#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "ui/u8.h"
#include "views/archiveparamselector.h"
#include "views/devicearchiveview.h"

#include <QLabel>
#include <QPushButton>
#include <exception>

namespace {
// A step of an archive command failed: the command warns and clears.
class EInternalError : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

// The operator cancelled: the command ends without a word.
class EUserBreak : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

const char *const kArchiveFilter = "Файлы архивов (*.daf);;Все файлы (*.*)";

QString archiveProblemText(TDeviceArchive::TLoadProblem problem)
{
    switch (problem) {
    case TDeviceArchive::TLoadProblem::TooLarge: return u8("Файл больше 1 ГиБ: это не архив установки.");
    case TDeviceArchive::TLoadProblem::NotText:
        return u8("В файле управляющие символы или байты вне кодовой страницы 1251: это не файл архива.");
    case TDeviceArchive::TLoadProblem::NoColumnLine: return u8("В файле нет строки с именами столбцов.");
    case TDeviceArchive::TLoadProblem::TooManyValues:
        return u8("Значений в файле больше, чем может быть в архиве такого размера.");
    case TDeviceArchive::TLoadProblem::File:
    case TDeviceArchive::TLoadProblem::None: break;
    }
    return u8("Файл не удаётся прочитать: его нет, это не обычный файл или нет прав на чтение.");
}
} // namespace

// The record count, the operator's choice in "Параметры архива", then the
// records one by one under the archive wait window. The read can be stopped
// from that window after any record: what was read is shown (and can be
// saved), and the terminal tells how much of the range that was. While the
// command runs no other command starts (see ExecuteCommand), and the wait
// window, modal for the whole program, is the only window that takes input.
void TMainForm::CmdReadArchive()
{
    ExchangeState = esReading;
    archiveReadRunning_ = true;
    ProtocolDriver->SetProgressBar(WaitWindow2Btn->WaitProgressBar);
    ProtocolDriver->SetCancelButton(WaitWindow2Btn->CancelBtn);
    Device->SetProgressBar(WaitWindow2Btn->GlobalWaitProgressBar);
    const QMetaObject::Connection stop =
        connect(WaitWindow2Btn, &TWaitWindow2Btn::Cancelled, this, [this] { Device->StopArchiveRead(); });
    // Each record read moves the overall bar: its label counts them.
    const QMetaObject::Connection count =
        connect(WaitWindow2Btn->GlobalWaitProgressBar, &TWaitProgressBar::PositionSet, this, [this] {
            WaitWindow2Btn->ShowRecordCount(Device->Archive->RecordCount(), Device->ArchiveRecordsInRange());
        });

    // Whatever way the command ends, the bars go back to the plain wait
    // window, and no wait window is left on the screen: a modal one would
    // shut the operator out of the program.
    struct HandBack {
        TMainForm *form;
        QMetaObject::Connection stop;
        QMetaObject::Connection count;
        ~HandBack()
        {
            QObject::disconnect(stop);
            QObject::disconnect(count);
            form->WaitWindow->hide();
            form->WaitWindow2Btn->hide();
            form->ExchangeState = esIdle;
            form->ProtocolDriver->SetProgressBar(form->WaitWindow->WaitProgressBar);
            form->ProtocolDriver->SetCancelButton(nullptr);
            form->archiveReadRunning_ = false;
        }
    } handBack{this, stop, count};

    try {
        WaitWindow->ShowWait(u8("загрузка архива"));
        const bool counted = Device->ReadNumOfRecords();
        WaitWindow->hide();
        if (!counted)
            throw EInternalError();

        ArchiveParamSelector->SetTotalArchSize(Device->NumOfRecords);
        if (!ArchiveParamSelector->Execute())
            throw EUserBreak();

        TOPVarList::CopyTo(ArchiveParamSelector->ResultVarList(), Device->ArchiveSelection);
        ShowArchiveNote(QString());
        repaint();

        WaitWindow2Btn->ShowWait(u8("загрузка архива"));
        const bool read = Device->ReadArchive(ArchiveParamSelector->Step(), ArchiveParamSelector->LowRange(),
                                              ArchiveParamSelector->HighRange(), Device->ArchiveSelection.get());
        WaitWindow2Btn->hide();
        if (!read)
            throw EInternalError();

        Device->Archive->SetDescriptions(Device->ArchiveDescriptions.get());
        ArchiveView->SetColumns(Device->ArchiveVars.get(), Device->ArchiveDescriptions.get());
        ArchiveView->ShowArchive(*Device->Archive);
        NoteOrigin(ArchiveView, QString());
        archiveTotal_ = Device->NumOfRecords;

        if (Device->ArchiveReadStopped()) {
            const QString read = CountWithNoun(Device->Archive->RecordCount(), "запись", "записи", "записей");
            const qint32 inRange = Device->ArchiveRecordsInRange();
            LogTerminalLine(ToCp1251(u8("Чтение архива остановлено оператором: прочитано %1 из %2").arg(read).arg(inRange)));
            ShowArchiveNote(u8("Прочитано %1 из %2 (чтение остановлено)").arg(read).arg(inRange));
        }
    } catch (const EInternalError &) {
        Prompt().Warning(u8("Загрузка архива не удалась!"));
        Device->Archive->Clear();
        ArchiveView->Clear();
    } catch (const EUserBreak &) {
    }
}

// Loads an archive file into the installation's archive and shows it; the
// next read from the installation replaces it again.
void TMainForm::CmdLoadArchiveFile()
{
    try {
        const QString fileName = Prompt().OpenFileName(u8(kArchiveFilter), QStringLiteral("daf"));
        if (fileName.isEmpty())
            return;
        ShowArchiveNote(QString());
        if (!Device->Archive->LoadFromFile(fileName)) {
            Prompt().Warning(u8("Чтение архива из файла не удалось! ") + archiveProblemText(Device->Archive->LoadProblem()));
            ArchiveView->Clear();
            return;
        }
        ArchiveView->SetColumns(Device->Archive->Names(), Device->Archive->Descriptions());
        ArchiveView->ShowArchive(*Device->Archive);
        NoteOrigin(ArchiveView, fileName);
        archiveTotal_ = 0;
    } catch (...) {
        Prompt().Warning(u8("Чтение архива из файла не удалось!"));
        ArchiveView->Clear();
    }
}

// Saves what the page shows (or showed last, if the table has been emptied
// since), with the descriptions of exactly its columns.
void TMainForm::CmdSaveArchiveFile()
{
    try {
        const QString fileName = Prompt().SaveFileName(u8(kArchiveFilter), QStringLiteral("daf"));
        if (fileName.isEmpty())
            return;
        TDeviceArchive &archive = ArchiveView->ArchiveData();
        archive.SetDescriptions(ArchiveView->ColumnDescriptions());
        if (!archive.SaveToFile(fileName))
            throw EInternalError();
    } catch (...) {
        Prompt().Warning(u8("Запись архива из файла не удалось!"));
    }
}

void TMainForm::ShowArchiveNote(const QString &note)
{
    ArchiveNotePanel->setText(note);
    ArchiveNotePanel->setVisible(!note.isEmpty() && ActivePages().Page == pgArchive);
}
