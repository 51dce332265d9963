#pragma once
// Writing a whole file so that it is either completely replaced or left as it
// was: the bytes go to a temporary file beside it, which is renamed over the
// old one only once every byte is on disk.

#include <QByteArray>
#include <QString>

// False, with the previous file (if any) untouched, when anything fails.
//
// QSaveFile alone is not enough: with its default buffering, a write that
// the system cuts short (disk full, file size limit) fails only at the final
// flush, and commit() still renames the truncated temporary file into place.
// The file is therefore written unbuffered and every count is checked.
bool SaveFileAtomically(const QString &fileName, const QByteArray &contents);
