// The main window's commands of the page "Архив": reading the archive from
// the installation, and loading and saving archive files.

#include "app/mainform.h"

#include "app/waitwindow.h"
#include "base/cp1251.h"
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

    // Whatever way the command ends, the bars go back to the plain wait
    // window, and no wait window is left on the screen: a modal one would
    // shut the operator out of the program.
    struct HandBack {
        TMainForm *form;
        QMetaObject::Connection stop;
        ~HandBack()
        {
            QObject::disconnect(stop);
            form->WaitWindow->hide();
            form->WaitWindow2Btn->hide();
            form->ExchangeState = esIdle;
            form->ProtocolDriver->SetProgressBar(form->WaitWindow->WaitProgressBar);
            form->ProtocolDriver->SetCancelButton(nullptr);
            form->archiveReadRunning_ = false;
        }
    } handBack{this, stop};

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

        if (Device->ArchiveReadStopped()) {
            const QByteArray line = Cp("Чтение архива остановлено оператором: прочитано ") +
                                    QByteArray::number(Device->Archive->RecordCount()) + Cp(" записей из ") +
                                    QByteArray::number(Device->ArchiveRecordsInRange());
            LogTerminalLine(line);
            ShowArchiveNote(u8("Прочитано %1 записей из %2 (чтение остановлено)")
                                .arg(Device->Archive->RecordCount())
                                .arg(Device->ArchiveRecordsInRange()));
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
        if (!Device->Archive->LoadFromFile(fileName))
            throw EInternalError();
        ArchiveView->SetColumns(Device->Archive->Names(), Device->Archive->Descriptions());
        ArchiveView->ShowArchive(*Device->Archive);
        NoteOrigin(ArchiveView, fileName);
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
