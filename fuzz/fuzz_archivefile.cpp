// Fuzz target: the archive file rules on arbitrary bytes. Besides memory
// faults and hangs it checks what must hold for any file: every record has a
// value for every column, and an archive saved and loaded again has the same
// columns and the same number of records.

#include "fuzzcheck.h"
#include "instrument/devicearchive.h"

#include <cstdint>
#include <cstdlib>

namespace {

QByteArrayList namesOf(const TOPVarList *list)
{
    QByteArrayList out;
    for (int i = 0; list && i < list->Count(); ++i)
        out << list->GetItem(i)->Name;
    return out;
}

void checkWhole(const TDeviceArchive &a)
{
    check(a.Names() && a.Descriptions());
    for (int r = 0; r < a.RecordCount(); ++r) {
        const TDeviceArchiveRecord *record = a.GetRecord(r);
        check(record && record->Number == r);
        check(record->VarList->Count() == a.Names()->Count());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TDeviceArchive a;
    if (!a.FromFileText(bytes))
        return 0;
    checkWhole(a);

    const QByteArray saved = a.ToFileText();
    TDeviceArchive b;
    check(b.FromFileText(saved));
    checkWhole(b);
    check(namesOf(b.Names()) == namesOf(a.Names()));
    check(b.RecordCount() == a.RecordCount());

    std::unique_ptr<TDeviceArchive> copy;
    b.CopyTo(copy);
    check(copy->ToFileText() == b.ToFileText());
    return 0;
}
