#include "app/privileges.h"

#include "base/textutils.h"

namespace {
qint64 numberOrOne(const QByteArray &text)
{
    return StrToIntDef(text, 1);
}

bool anyOf(const auto &flags)
{
    for (bool f : flags)
        if (f)
            return true;
    return false;
}
} // namespace

TPageTabs TabsForPrivileges(const QByteArray &privileges)
{
    TPageTabs tabs;
    QByteArray rest = privileges;
    while (!rest.isEmpty()) {
        const QByteArray entry = TextBefore(rest, ";");
        DropThrough(rest, ";");

        const QByteArray pagePart = TextBefore(entry, "-");
        QByteArray subPart = entry;
        if (!DropThrough(subPart, "-"))
            subPart.clear();
        if (pagePart.isEmpty())
            continue;

        const qint64 page = numberOrOne(pagePart);
        if (page >= 1 && page <= 4)
            tabs.Pages[page - 1] = true;

        if (!subPart.isEmpty()) {
            const qint64 sub = numberOrOne(subPart);
            if (page == 1 && sub >= 1 && sub <= 3)
                tabs.SettingsSubPages[sub - 1] = true;
            else if (page == 2 && sub >= 1 && sub <= 2)
                tabs.SpectrSubPages[sub - 1] = true;
        }

        // A page with sub-pages exists exactly when one of its sub-pages does.
        tabs.Pages[0] = anyOf(tabs.SettingsSubPages);
        tabs.Pages[1] = anyOf(tabs.SpectrSubPages);
    }
    return tabs;
}
