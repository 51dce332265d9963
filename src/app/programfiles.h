#pragma once
// The files the main window keeps its settings in.

// The line settings, in the program's folder.
inline constexpr const char *kSerialSettingsFile = "commport.cfg";
// The password list, in the working folder.
inline constexpr const char *kPasswordFile = "kvarn.pwd";
