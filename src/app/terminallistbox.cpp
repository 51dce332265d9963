#include "app/terminallistbox.h"

#include "base/cp1251.h"
#include "base/savefile.h"
#include "ui/fonts.h"
#include "ui/operatorprompt.h"
#include "ui/u8.h"

#include <QAction>
#include <QMenu>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QDateTime>

namespace {
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(TTerminalListBox::kItemHeight);
        return size;
    }
};
} // namespace

TTerminalListBox::TTerminalListBox(QWidget *parent) : QListWidget(parent)
{
    setFont(TerminalFont());
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setItemDelegate(new FixedHeightDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
}

int TTerminalListBox::LineCount() const
{
    return count();
}

void TTerminalListBox::DeleteFirstLine()
{
    if (count() > 0)
        delete takeItem(0);
}

QString TTerminalListBox::DisplayText(const QByteArray &line)
{
    QString text = FromCp1251(line);
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = QChar(char16_t(0x2400 + c.unicode()));
        else if (c.unicode() == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return text;
}

namespace {
// Each item keeps its line as shown without a time, and the time it came in.
constexpr int kLineRole = Qt::UserRole;
constexpr int kTimeRole = Qt::UserRole + 1;
} // namespace

QString TTerminalListBox::ShownText(const QListWidgetItem &item, bool withTime)
{
    const QString line = item.data(kLineRole).toString();
    if (!withTime)
        return line;
    return item.data(kTimeRole).toDateTime().toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  ") + line;
}

void TTerminalListBox::AppendLine(const QByteArray &line)
{
    AppendLineAt(line, QDateTime::currentDateTime());
}

void TTerminalListBox::AppendLineAt(const QByteArray &line, const QDateTime &when)
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    auto *item = new QListWidgetItem;
    item->setData(kLineRole, DisplayText(line));
    item->setData(kTimeRole, when);
    item->setText(ShownText(*item, showTimes_));
    addItem(item);
    if (atEnd)
        scrollToBottom();
}

void TTerminalListBox::SetShowTimes(bool on)
{
    showTimes_ = on;
    for (int i = 0; i < count(); ++i)
        item(i)->setText(ShownText(*item(i), on));
    if (ShowTimesItem)
        ShowTimesItem->setChecked(on);
}

QByteArray TTerminalListBox::LogText() const
{
    QString text;
    // A log read days later, or one that runs past midnight, needs the dates.
    for (int i = 0; i < count(); ++i)
        text += item(i)->data(kTimeRole).toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) +
                QStringLiteral("  ") + item(i)->data(kLineRole).toString() + QLatin1Char('\n');
    return text.toUtf8();
}

void TTerminalListBox::SaveLog()
{
    if (!prompt_)
        return;
    const QString fileName =
        prompt_->SaveFileName(u8("Текстовые файлы (*.txt);;Все файлы (*.*)"), QStringLiteral("txt"));
    if (fileName.isEmpty())
        return;
    if (!SaveFileAtomically(fileName, LogText()))
        prompt_->Warning(u8("Сохранить журнал в файле не удалось: ") + fileName);
}

void TTerminalListBox::AddLogItems(QMenu &menu, OperatorPrompt &prompt)
{
    prompt_ = &prompt;
    menu.addSeparator();
    ShowTimesItem = menu.addAction(u8("Показывать время строк"));
    ShowTimesItem->setObjectName(QStringLiteral("ShowTimesItem"));
    ShowTimesItem->setCheckable(true);
    ShowTimesItem->setChecked(showTimes_);
    connect(ShowTimesItem, &QAction::toggled, this, &TTerminalListBox::SetShowTimes);
    SaveLogItem = menu.addAction(u8("Сохранить журнал…"), this, &TTerminalListBox::SaveLog);
    SaveLogItem->setObjectName(QStringLiteral("SaveLogItem"));
}
