// The main window's site commands: the site database's window, and records
// stored there shown on the archive page.

#include "app/mainform.h"

#include "base/cp1251.h"
#include "instrument/ormak.h"
#include "instrument/storedrecords.h"
#include "ui/u8.h"
#include "views/devicearchiveview.h"
#include "views/sitewindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const char *const kSiteKey = "site/database";

QSettings UserSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("kvarn"), QStringLiteral("kvarn"));
}

} // namespace

void TMainForm::AskSite()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SiteDatabaseDialog"));
    dialog.setWindowTitle(u8("Площадка"));
    auto *url = new QLineEdit(UserSettings().value(QLatin1String(kSiteKey)).toString(), &dialog);
    url->setObjectName(QStringLiteral("SiteDatabaseUrl"));
    url->setPlaceholderText(QStringLiteral("sqlite:/var/lib/kvarn/site.db, postgresql://USER@HOST/DBNAME"));
    url->setMinimumWidth(420);
    auto *file = new QPushButton(u8("Файл…"), &dialog);
    connect(file, &QPushButton::clicked, &dialog, [&]() {
        const QString name = Prompt().OpenFileName(u8("Базы площадки (*.db *.sqlite *.sqlite3);;Все файлы (*)"),
                                                   QStringLiteral("db"));
        if (!name.isEmpty())
            url->setText(QStringLiteral("sqlite:") + name);
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addWidget(url);
    row->addWidget(file);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(u8("База площадки (файл SQLite или адрес PostgreSQL):"), &dialog));
    layout->addLayout(row);
    layout->addWidget(buttons);
    if (Prompt().Exec(dialog) == QDialog::Accepted && !url->text().trimmed().isEmpty())
        OpenSite(url->text().trimmed());
}

bool TMainForm::OpenSite(const QString &text)
{
    // A bare path is a SQLite file; a relative one is taken from here.
    QString urlText = text.contains(QLatin1String("://")) || text.startsWith(QLatin1String("sqlite:"))
        ? text
        : QStringLiteral("sqlite:") + text;
    if (urlText.startsWith(QLatin1String("sqlite:")) && !urlText.startsWith(QLatin1String("sqlite://")))
        urlText = QStringLiteral("sqlite:") + QFileInfo(urlText.mid(7)).absoluteFilePath();
    QString error;
    const std::optional<TStoreUrl> url = TStoreUrl::Parse(urlText, &error);
    if (!url) {
        Prompt().Error(error);
        return false;
    }
    // Only read: a file that is not there is not made.
    if (url->Driver == QLatin1String("QSQLITE") && !QFileInfo(url->Path).isFile()) {
        Prompt().Error(u8("Нет файла базы площадки %1").arg(url->Path));
        return false;
    }
    UserSettings().setValue(QLatin1String(kSiteKey), urlText);
    delete siteWindow_;
    siteWindow_ = new TSiteWindow(*url, Prompt(), this);
    connect(siteWindow_, &TSiteWindow::ArchiveLoaded, this, &TMainForm::ShowStoredArchive);
    siteWindow_->show();
    return true;
}

void TMainForm::ShowStoredArchive(const QString &installation, const TSiteStore::Rows &rows)
{
    SetStoredColumns(rows.Columns, *Device->Archive);
    for (const QList<std::optional<QByteArray>> &values : rows.Values)
        AddStoredRecord(rows.Columns, values, *Device->Archive);
    ArchiveView->SetColumns(Device->Archive->Names(), Device->Archive->Descriptions());
    ArchiveView->ShowArchive(*Device->Archive);
    NoteOrigin(ArchiveView, QString());
    MainPageControl->setCurrentWidget(TabSheet6);
    ShowArchiveNote(u8("%1: %2 записей из базы площадки").arg(installation).arg(rows.Values.size()));
}
