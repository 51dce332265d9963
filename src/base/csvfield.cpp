#include "base/csvfield.h"

#include "base/cp1251.h"

QByteArray CsvField(const QByteArray &cp1251)
{
    QByteArray field = FromCp1251(cp1251).toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}
