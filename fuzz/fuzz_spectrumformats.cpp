// Fuzz target: the N42, SPE and CSV spectrum readers on arbitrary bytes.
// Besides memory faults it checks what must hold for any file a reader
// takes: its coefficients are numbers, and the spectrum written again in the
// same format reads back to the same counts and writes the same bytes.

#include "fuzzcheck.h"
#include "instrument/spectrumformats.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const TSpectrumFormat format : {TSpectrumFormat::N42, TSpectrumFormat::Spe, TSpectrumFormat::Csv}) {
        TSpectrumFile file;
        QString error;
        if (!ParseSpectrumFile(bytes, format, file, &error)) {
            check(!error.isEmpty());
            continue;
        }
        check(std::isfinite(double(file.Main.CoefA)) && std::isfinite(double(file.Main.CoefB)));
        const QByteArray image = SpectrumFileImage(file, format);
        TSpectrumFile again;
        check(ParseSpectrumFile(image, format, again, &error));
        for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
            check(again.Main.GetCount(c) == file.Main.GetCount(c));
        check(again.Background.has_value() == file.Background.has_value());
        if (format != TSpectrumFormat::Csv) // CSV energies are rounded to 15 digits
            check(SpectrumFileImage(again, format) == image);
    }
    return 0;
}
