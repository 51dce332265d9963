#include "ui/radiogroup.h"

#include <QButtonGroup>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)), columns_(qMax(1, columns))
{
    group_->setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto *item = new QRadioButton(items[i], this);
        item->setObjectName(QStringLiteral("Item%1").arg(i));
        group_->addButton(item, i);
        items_ << item;
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit Click();
    });
    arrange();
}

int TRadioGroup::ItemIndex() const
{
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < items_.size()) {
        items_[index]->setChecked(true);
        return;
    }
    // An exclusive group keeps one item checked: let go of it for a moment.
    group_->setExclusive(false);
    for (QRadioButton *item : items_)
        item->setChecked(false);
    group_->setExclusive(true);
}

QRadioButton *TRadioGroup::Item(int index) const
{
    return items_.value(index);
}

void TRadioGroup::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    arrange();
}

void TRadioGroup::arrange()
{
    // Items fill the box under its title, column by column, row by row.
    const QRect area = contentsRect().adjusted(8, 0, -4, -2);
    if (items_.isEmpty() || area.width() <= 0)
        return;
    const int rows = int((items_.size() + columns_ - 1) / columns_);
    const int columnWidth = area.width() / columns_;
    const int rowHeight = qMax(1, area.height() / rows);
    for (int i = 0; i < items_.size(); ++i) {
        const int h = qMin(rowHeight, items_[i]->sizeHint().height());
        items_[i]->setGeometry(area.left() + (i % columns_) * columnWidth,
                               area.top() + (i / columns_) * rowHeight + (rowHeight - h) / 2, columnWidth, h);
    }
}
