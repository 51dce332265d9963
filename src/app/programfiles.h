#pragma once
// The file the main window keeps its password list in (the line settings
// find their own file: see serial/comsettings.h).

// The password list, in the working folder.
inline constexpr const char *kPasswordFile = "kvarn.pwd";
