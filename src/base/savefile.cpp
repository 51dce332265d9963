#include "base/savefile.h"

#include <QSaveFile>

bool SaveFileAtomically(const QString &fileName, const QByteArray &contents)
{
    if (fileName.isEmpty())
        return false;
    QSaveFile file(fileName);
    // Only taken when the folder refuses the temporary file and the file
    // itself is writable (see the header).
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    qint64 done = 0;
    while (done < contents.size()) {
        const qint64 n = file.write(contents.constData() + done, contents.size() - done);
        if (n <= 0) {
            file.cancelWriting();
            return false;
        }
        done += n;
    }
    if (!file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
