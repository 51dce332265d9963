#include "app/terminallistbox.h"

#include "base/cp1251.h"
#include "ui/fonts.h"

#include <QScrollBar>
#include <QStyledItemDelegate>

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

void TTerminalListBox::AppendLine(const QByteArray &line)
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    addItem(DisplayText(line));
    if (atEnd)
        scrollToBottom();
}
