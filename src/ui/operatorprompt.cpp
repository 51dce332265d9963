#include "ui/operatorprompt.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

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

int WidgetPrompt::Exec(QDialog &dialog)
{
    return dialog.exec();
}

QString WidgetPrompt::OpenFileName(const QString &filter, const QString &defaultSuffix)
{
    QFileDialog dlg(parent_, QString(), QString(), dialogFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setDefaultSuffix(defaultSuffix);
    return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
}

QString WidgetPrompt::SaveFileName(const QString &filter, const QString &defaultSuffix)
{
    QFileDialog dlg(parent_, QString(), QString(), dialogFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(defaultSuffix);
    return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
}
