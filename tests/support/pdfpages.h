#pragma once
// Reports read back with poppler's tools (pdfinfo, pdftotext, pdftoppm), and
// programs run to their end.

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <algorithm>

struct ProgramRun {
    int status = -1;
    QByteArray out, err;
};

inline ProgramRun runProgram(const QString &program, const QStringList &arguments, bool withoutDisplay = false)
{
    QProcess process;
    if (withoutDisplay) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("XDG_RUNTIME_DIR"); // as under cron

        process.setProcessEnvironment(env);
    }
    process.start(program, arguments);
    ProgramRun result;
    if (!process.waitForFinished(120000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

inline int pageCount(const QString &pdf)
{
    const QRegularExpressionMatch m =
        QRegularExpression("Pages:\\s+(\\d+)").match(QString::fromUtf8(runProgram("pdfinfo", {pdf}).out));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text of each page, as pdftotext lays it out.
inline QStringList pageTexts(const QString &pdf)
{
    QStringList pages = QString::fromUtf8(runProgram("pdftotext", {"-layout", pdf, "-"}).out).split(u'\f');
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// Pixels of a page rendered by pdftoppm that are plainly blue (a plot's
// line, however thin and blended).
inline int bluePixels(const QString &pdf, int page, const QString &dir)
{
    const QString prefix = dir + "/page";
    runProgram("pdftoppm", {"-f", QString::number(page), "-l", QString::number(page), "-r", "50", "-png", pdf, prefix});
    QImage image(prefix + "-" + QString::number(page) + ".png");
    if (image.isNull())
        image.load(prefix + "-0" + QString::number(page) + ".png");
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qBlue(p) - std::max(qRed(p), qGreen(p)) > 60)
                ++count;
        }
    return count;
}
