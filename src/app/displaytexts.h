#pragma once
// Display texts of the main window's panels (UTF-8 source text).

inline constexpr const char *kProgramTitle = "КВАРН-Т 1.1";
inline constexpr const char *kProgramVersion = "1.1";

// Off/on panels: index 0 off, 1 on.
inline constexpr const char *kOnOffTexts[2] = {"ВЫКЛ", "ВКЛ"};
// State panels: 0 sound, 1 fault, 2 running, 3 stopped.
inline constexpr const char *kStateTexts[4] = {"OK", "НЕИСПРАВЕН", "ВКЛ", "ВЫКЛ"};
// The working mode: 0 normal work, 1 test mode.
inline constexpr const char *kModeTexts[2] = {"Рабочий режим", "Тестовый режим"};
