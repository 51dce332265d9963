#pragma once
// A strict reader of EURDEP messages for the tests, written from the
// format's grammar rather than from the writer: ASCII only, CR LF line ends,
// every line ending in ';', keyword lines starting with '\', BEGIN/END
// sections balanced, every row as long as its block's FIELD_LIST, and the
// block's DEFAULT keys applied to each row.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

struct TEurdepRead {
    QString Error; // empty when the message is whole and well formed
    QMap<QString, QString> Header;
    QList<QMap<QString, QString>> Localities;
    QList<QMap<QString, QString>> Values; // defaults applied
};

inline TEurdepRead ReadEurdep(const QByteArray &bytes)
{
    TEurdepRead r;
    auto fail = [&](int line, const QString &why) {
        r.Error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return r;
    };
    for (char c : bytes)
        if ((uchar(c) < 0x20 && c != '\r' && c != '\n') || uchar(c) > 0x7e)
            return fail(0, QStringLiteral("a byte that is no printable ASCII: %1").arg(int(uchar(c))));
    if (!bytes.endsWith("\r\n"))
        return fail(0, QStringLiteral("the message does not end with CR LF"));
    const QList<QByteArray> lines = bytes.left(bytes.size() - 2).split('\n');
    QStringList stack;
    QStringList fields;
    QMap<QString, QString> defaults;
    bool ended = false;
    for (int n = 1; n <= lines.size(); ++n) {
        QByteArray raw = lines[n - 1];
        if (n < lines.size() && !raw.endsWith('\r'))
            return fail(n, QStringLiteral("a line end without CR"));
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (raw.contains('\r'))
            return fail(n, QStringLiteral("a lone CR"));
        const QString line = QString::fromLatin1(raw);
        if (!line.endsWith(u';'))
            return fail(n, QStringLiteral("no ';' at the end"));
        if (ended)
            return fail(n, QStringLiteral("text after END_EURDEP"));
        const QString text = line.chopped(1);
        if (!text.startsWith(u'\\')) {
            const QString block = stack.value(stack.size() - 1);
            if (block != u"LOCALITY" && block != u"RADIOLOGICAL")
                return fail(n, QStringLiteral("a row outside a block"));
            const QStringList cells = text.split(u',');
            if (fields.isEmpty() || cells.size() != fields.size())
                return fail(n, QStringLiteral("%1 fields for a FIELD_LIST of %2").arg(cells.size()).arg(fields.size()));
            QMap<QString, QString> row = block == u"RADIOLOGICAL" ? defaults : QMap<QString, QString>();
            for (int i = 0; i < cells.size(); ++i)
                if (!cells[i].isEmpty() || !row.contains(fields[i]))
                    row[fields[i]] = cells[i];
            (block == u"LOCALITY" ? r.Localities : r.Values) << row;
            continue;
        }
        const qsizetype space = text.indexOf(u' ');
        const QString keyword = text.mid(1, space < 0 ? -1 : space - 1);
        const QString value = space < 0 ? QString() : text.mid(space + 1);
        if (keyword.startsWith(QLatin1String("BEGIN_"))) {
            const QString name = keyword.mid(6);
            const bool placed = stack.isEmpty() ? name == u"EURDEP"
                                                : (stack.last() == u"EURDEP" && name != u"EURDEP" && name != u"DEFAULT")
                                                      || (stack.last() == u"RADIOLOGICAL" && name == u"DEFAULT");
            if (!placed || (n == 1) != (name == u"EURDEP"))
                return fail(n, QStringLiteral("BEGIN_%1 out of place").arg(name));
            stack << name;
            fields.clear();
            if (name == u"RADIOLOGICAL")
                defaults.clear();
        } else if (keyword.startsWith(QLatin1String("END_"))) {
            if (stack.isEmpty() || stack.last() != keyword.mid(4))
                return fail(n, QStringLiteral("%1 closes no open section").arg(keyword));
            stack.removeLast();
            ended = stack.isEmpty();
        } else if (keyword == u"FIELD_LIST") {
            fields = value.split(u',');
        } else if (stack.value(stack.size() - 1) == u"HEADER") {
            r.Header[keyword] = value;
        } else if (stack.value(stack.size() - 1) == u"DEFAULT") {
            defaults[keyword] = value;
        } else {
            return fail(n, QStringLiteral("keyword %1 out of place").arg(keyword));
        }
    }
    if (!ended)
        return fail(lines.size(), QStringLiteral("the message is not closed"));
    static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}Z$"));
    for (const char *key : {"FORMAT_VERSION", "SENT", "ORIGINATOR", "IMPORTANCE", "MESSAGE_ID"})
        if (r.Header.value(QLatin1String(key)).isEmpty())
            return fail(0, QStringLiteral("the header has no %1").arg(QLatin1String(key)));
    if (r.Header["FORMAT_VERSION"] != u"2.1" || !time.match(r.Header["SENT"]).hasMatch())
        return fail(0, QStringLiteral("FORMAT_VERSION or SENT is wrong"));
    for (const auto &row : r.Values)
        if (!time.match(row.value("BEGIN")).hasMatch() || !time.match(row.value("END")).hasMatch())
            return fail(0, QStringLiteral("a row's BEGIN or END is no time"));
    return r;
}
