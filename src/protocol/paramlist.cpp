#include "protocol/paramlist.h"

void TParamList::AddData(qintptr data)
{
    items_.push_back(TParamListItem{data, QByteArray(), Count()});
}

void TParamList::AddName(const QByteArray &name)
{
    items_.push_back(TParamListItem{0, name, Count()});
}

const TParamListItem *TParamList::GetItem(int position) const
{
    if (position < 0 || position >= Count())
        return nullptr;
    return &items_[size_t(position)];
}

int TParamList::IndexOfName(const QByteArray &name) const
{
    for (const auto &item : items_)
        if (item.Name == name)
            return item.Position;
    return -1;
}
