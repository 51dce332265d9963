#pragma once
// Ordered NAME[:INDEX]=VALUE lists: what every protocol transaction carries and
// how the instrument model keeps each group of variables. Names and indexes
// compare without regard to ASCII letter case. Items are only ever appended.

#include <QByteArray>
#include <memory>
#include <stdexcept>
#include <vector>

class EOPVarListError : public std::runtime_error {
public:
    EOPVarListError() : std::runtime_error("") {}
};

struct TOPVarListItem {
    QByteArray Name;
    QByteArray Index;
    QByteArray Value;
    int Position = 0;
};

class TOPVarList {
public:
    TOPVarList() = default;
    virtual ~TOPVarList() = default;
    TOPVarList(const TOPVarList &) = delete;
    TOPVarList &operator=(const TOPVarList &) = delete;

    int Count() const { return int(items_.size()); }

    void Add(const QByteArray &name, const QByteArray &index = QByteArray(),
             const QByteArray &value = QByteArray());
    // The item at a position, or nullptr for positions not present.
    TOPVarListItem *GetItem(int position);
    const TOPVarListItem *GetItem(int position) const;
    int IndexOfName(const QByteArray &name) const;
    // An empty index matches only an empty index.
    int IndexOf(const QByteArray &name, const QByteArray &index) const;

    // Replaces the destination (whatever it held) with an independent copy.
    void CopyTo(std::unique_ptr<TOPVarList> &destination) const;
    // The same, for a source that may be missing: throws EOPVarListError and
    // leaves the destination untouched when there is no source.
    static void CopyTo(const TOPVarList *source, std::unique_ptr<TOPVarList> &destination);
    std::unique_ptr<TOPVarList> Clone() const;

    // Takes values from the source by name and index; the first match wins.
    void AssignValues(const TOPVarList &source);

private:
    std::vector<std::unique_ptr<TOPVarListItem>> items_;
};
