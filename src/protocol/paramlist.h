#pragma once
// A plain ordered list of entries that carry a number or a name.

#include <QByteArray>
#include <QtGlobal>
#include <vector>

struct TParamListItem {
    qintptr Data = 0;
    QByteArray Name;
    int Position = 0;
};

class TParamList {
public:
    TParamList() = default;
    virtual ~TParamList() = default;

    int Count() const { return int(items_.size()); }
    void AddData(qintptr data);
    void AddName(const QByteArray &name);
    // The entry at a position, or nullptr for positions not present.
    const TParamListItem *GetItem(int position) const;
    // Exact comparison: letter case counts.
    int IndexOfName(const QByteArray &name) const;

private:
    std::vector<TParamListItem> items_;
};
