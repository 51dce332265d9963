#pragma once
// The other side of the line, for a quick look: asks the installation at a
// serial line or pseudo-terminal for a few values and prints the exchange as
// the service program's terminal shows it ("-> " request, "<- " reply).

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdio>

// 0 when every request was answered by a correct reply, 1 otherwise, 2 when
// the line cannot be opened.
int RunSimProbe(const QString &path, int device, const QList<QByteArray> &names, std::FILE *out);
