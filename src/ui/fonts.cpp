#include "ui/fonts.h"

#include <QFontDatabase>
#include <QFontInfo>

QString FirstInstalledFamily(const QStringList &families)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString &family : families)
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    return QString();
}

QFont WindowFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const QString family = FirstInstalledFamily(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
         QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPointSize(8);
    return font;
}

QFont TerminalFont()
{
    QFont font;
    const QString family = FirstInstalledFamily(
        {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")});
    if (!family.isEmpty())
        font.setFamily(family);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    return font;
}
