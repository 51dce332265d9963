#include "protocol/opvarlist.h"

#include "base/textutils.h"

void TOPVarList::Add(const QByteArray &name, const QByteArray &index, const QByteArray &value)
{
    auto item = std::make_unique<TOPVarListItem>();
    item->Name = name;
    item->Index = index;
    item->Value = value;
    item->Position = int(items_.size());
    items_.push_back(std::move(item));
}

TOPVarListItem *TOPVarList::GetItem(int position)
{
    if (position < 0 || position >= Count())
        return nullptr;
    return items_[size_t(position)].get();
}

const TOPVarListItem *TOPVarList::GetItem(int position) const
{
    return const_cast<TOPVarList *>(this)->GetItem(position);
}

int TOPVarList::IndexOfName(const QByteArray &name) const
{
    for (const auto &item : items_)
        if (SameTextAscii(item->Name, name))
            return item->Position;
    return -1;
}

int TOPVarList::IndexOf(const QByteArray &name, const QByteArray &index) const
{
    for (const auto &item : items_)
        if (SameTextAscii(item->Name, name) && SameTextAscii(item->Index, index))
            return item->Position;
    return -1;
}

void TOPVarList::CopyTo(std::unique_ptr<TOPVarList> &destination) const
{
    destination = Clone();
}

void TOPVarList::CopyTo(const TOPVarList *source, std::unique_ptr<TOPVarList> &destination)
{
    if (!source)
        throw EOPVarListError();
    source->CopyTo(destination);
}

std::unique_ptr<TOPVarList> TOPVarList::Clone() const
{
    auto copy = std::make_unique<TOPVarList>();
    copy->items_.reserve(items_.size());
    for (const auto &item : items_)
        copy->Add(item->Name, item->Index, item->Value);
    return copy;
}

void TOPVarList::AssignValues(const TOPVarList &source)
{
    for (auto &item : items_) {
        const int k = source.IndexOf(item->Name, item->Index);
        if (k >= 0)
            item->Value = source.GetItem(k)->Value;
    }
}
