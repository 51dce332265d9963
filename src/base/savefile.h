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
//
// A file that may be written in a folder that may not (a settings file in a
// protected program folder) is written in place instead: the temporary file
// cannot be made there, so the old-or-new guarantee cannot hold, and a write
// that fails half-way leaves the file cut short. Refusing instead would
// leave the file never updated, and the operator never told.
bool SaveFileAtomically(const QString &fileName, const QByteArray &contents);
