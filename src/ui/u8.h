#pragma once
// Window texts stand in the source as UTF-8 literals: u8("Калибровка").

#include <QString>

inline QString u8(const char *text)
{
    return QString::fromUtf8(text);
}
