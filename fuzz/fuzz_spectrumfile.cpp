// Fuzz target: the spectrum file rules on arbitrary bytes. Besides memory
// faults it checks what must hold for any file: the counts are the bytes at
// offset 512 as they stand, a coefficient is never NaN, and a spectrum saved
// and loaded again comes back with the same counts and the same file image.

#include "fuzzcheck.h"
#include "instrument/radiationspectr.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TRadiationSpectr s;
    s.SetCount(0, 12345);
    const bool loaded = s.LoadFromFileImage(bytes);
    check(loaded == (size >= size_t(TRadiationSpectr::FileSize)));
    if (!loaded) {
        check(s.GetCount(0) == 12345 && s.CoefA == 1 && s.CoefB == 0);
        return 0;
    }
    check(!std::isnan(s.CoefA) && !std::isnan(s.CoefB));
    const QByteArray image = s.FileImage();
    check(image.size() == TRadiationSpectr::FileSize);
    check(image.mid(TRadiationSpectr::HeaderSize) ==
          bytes.mid(TRadiationSpectr::HeaderSize, TRadiationSpectr::DataSize));

    TRadiationSpectr again;
    check(again.LoadFromFileImage(image));
    check(again.FileImage() == image);
    return 0;
}
