#pragma once
// Which tabs of the main window a privilege text opens.
//
// The text is a series of entries, each ended by ";" (the last one may lack
// it): a page number, optionally "-" and a sub-page number. Pages 1
// ("Настройки установки", sub-pages 1..3) and 2 ("Спектр", sub-pages 1..2)
// are opened only through one of their sub-pages; pages 3 ("Архив") and 4
// ("Терминал") by their bare number. A number that is not an integer counts
// as 1; numbers out of range open nothing; an entry with no page number is
// skipped.

#include <QByteArray>
#include <array>

struct TPageTabs {
    std::array<bool, 4> Pages{};            // MainPageControl, pages 1..4
    std::array<bool, 3> SettingsSubPages{}; // Page1PageControl, sub-pages 1..3
    std::array<bool, 2> SpectrSubPages{};   // SpectrPageControl, sub-pages 1..2
    bool operator==(const TPageTabs &) const = default;
};

// What everybody gets when no password list gives anything better.
inline constexpr const char *kDefaultPrivileges = "1-1;";

TPageTabs TabsForPrivileges(const QByteArray &privileges);
