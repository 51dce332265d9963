#include "ui/operatorprompt.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>

namespace {
int box(QWidget *parent, QMessageBox::Icon icon, const QString &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox mb(icon, QString(), text, buttons, parent);
    return mb.exec();
}

// The program names its file filters as "Name|*.x|Name|*.y"; the file dialog
// wants "Name (*.x);;Name (*.y)". Filters without "|" pass as they are.
QString dialogFilter(const QString &filter)
{
    if (!filter.contains(u'|'))
        return filter;
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString pattern = QString(parts[i + 1]).replace(u';', u' ');
        const QString shown = QLatin1Char('(') + pattern + QLatin1Char(')');
        filters << (parts[i].contains(shown) ? parts[i] : parts[i] + QLatin1Char(' ') + shown);
    }
    return filters.join(QLatin1String(";;"));
}

// Icons and type names from what a directory listing gives (the name and
// the kind of entry), never from a file's contents: Qt's own provider reads
// a file of an unknown extension to guess its type, and a file that blocks
// on reading would then hold the dialog for good.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    NameOnlyIconProvider() { setOptions(DontUseCustomDirectoryIcons); }

    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo &info) const override
    {
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo &info) const override
    {
        if (!info.isFile())
            return QFileIconProvider::type(info);
        const QMimeType mime = QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }
};

// Qt's own dialog, not the desktop's: its texts are the translated ones,
// and it lists files through the provider above.
QString fileDialog(QWidget *parent, const QString &filter, const QString &defaultSuffix, bool save)
{
    NameOnlyIconProvider icons;
    QFileDialog dlg(parent, QString(), QString(), dialogFilter(filter));
    dlg.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontUseCustomDirectoryIcons);
    dlg.setIconProvider(&icons);
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!save)
        dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setDefaultSuffix(defaultSuffix);
    return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
}
} // namespace

void WidgetPrompt::Warning(const QString &text)
{
    box(parent_, QMessageBox::Warning, text, QMessageBox::Yes);
}

void WidgetPrompt::Information(const QString &text)
{
    box(parent_, QMessageBox::Information, text, QMessageBox::Ok);
}

void WidgetPrompt::Error(const QString &text)
{
    box(parent_, QMessageBox::Critical, text, QMessageBox::Yes);
}

bool WidgetPrompt::Confirm(const QString &text)
{
    return box(parent_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void WidgetPrompt::Notice(const QString &text)
{
    box(parent_, QMessageBox::Information, text, QMessageBox::Yes);
}

int WidgetPrompt::Exec(QDialog &dialog)
{
    return dialog.exec();
}

QString WidgetPrompt::OpenFileName(const QString &filter, const QString &defaultSuffix)
{
    return fileDialog(parent_, filter, defaultSuffix, false);
}

QString WidgetPrompt::SaveFileName(const QString &filter, const QString &defaultSuffix)
{
    return fileDialog(parent_, filter, defaultSuffix, true);
}
