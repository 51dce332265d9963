#pragma once
// A titled group of radio items laid out in columns, with one item selected
// or none, like the dry-contact groups of "Общее".

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent = nullptr);

    // The selected item, -1 for none.
    int ItemIndex() const;
    // Selects an item; -1 (or any index out of range) clears the selection.
    void SetItemIndex(int index);
    QRadioButton *Item(int index) const;
    int Count() const { return int(items_.size()); }

signals:
    // An item has become selected, whether the operator clicked it or the
    // program selected it. Clearing the selection is no click; selecting the
    // item that already is selected raises nothing.
    void Click();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void arrange();

    QButtonGroup *group_;
    QList<QRadioButton *> items_;
    int columns_;
};
