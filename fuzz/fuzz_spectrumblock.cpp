// Fuzz target: the spectrum block loader. The first byte chooses byte
// swapping, the rest is the block. Every channel the block reaches holds its
// 4 bytes, every other channel is 0.

#include "fuzzcheck.h"
#include "instrument/radiationspectr.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool swap = data[0] & 1;
    const uint8_t *block = data + 1;
    const qint64 blockSize = qint64(size - 1);

    TRadiationSpectr s;
    for (int i = 0; i < TRadiationSpectr::ChannelCount; ++i)
        s.SetCount(i, -1);
    check(s.LoadFromBlock(block, blockSize, swap));
    const int filled = int(std::min<qint64>(blockSize / 4, TRadiationSpectr::ChannelCount));
    for (int i = 0; i < TRadiationSpectr::ChannelCount; ++i) {
        quint32 expected = 0;
        if (i < filled) {
            const uint8_t *p = block + 4 * i;
            expected = swap ? quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]
                            : quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
        }
        check(quint32(s.GetCount(i)) == expected);
    }
    check(!s.LoadFromBlock(nullptr, blockSize, swap));
    check(s.GetCount(0) == 0);
    return 0;
}
