#pragma once
// One gamma spectrum of the installation: 1024 channels of counts and a
// linear energy calibration, energy(c) = CoefA * c + CoefB (keV).
//
// Spectrum file (*.spc), exactly 4608 bytes when written, no magic or version:
//   0    512  header text "A=<CoefA>; B=<CoefB>;", zero bytes up to 512
//   512 4096  1024 counts, channel 0 first, signed 32-bit little-endian
// Longer files load like 4608-byte ones (the tail is ignored); shorter ones
// are refused.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>

class TRadiationSpectr {
public:
    static constexpr int ChannelCount = 1024;
    static constexpr int HeaderSize = 512;
    static constexpr int DataSize = ChannelCount * 4;
    static constexpr int FileSize = HeaderSize + DataSize;

    TRadiationSpectr() = default;
    virtual ~TRadiationSpectr() = default;

    // Energy per channel and energy offset in keV, 80-bit extended on x86.
    // Read and written directly by the spectrum view.
    long double CoefA = 1.0L;
    long double CoefB = 0.0L;

    // All counts to 0; the coefficients stay.
    void Clear();
    // The count of a channel; 0 for channels outside 0..1023.
    qint32 GetCount(int channel) const;
    // Sets one channel; channels outside 0..1023 are ignored.
    void SetCount(int channel, qint32 value);

    // Sum of the counts of the channels from `first` to `last` inclusive (in
    // either order). Channels outside 0..1023 add nothing. 64 bits wide: 1024
    // channels of up to 2^31 - 1 do not fit in 32.
    qint64 SumCounts(int first, int last) const;

    // False (and nothing changed) when the file is missing, not a regular
    // file, shorter than 4608 bytes or unreadable. A header that does not
    // parse still loads the counts; see the .cpp for the header rules.
    bool LoadFromFile(const QString &fileName);
    // The same rules for a file's bytes already in memory.
    bool LoadFromFileImage(const QByteArray &image);
    // Writes a temporary file and renames it into place: on any failure the
    // previous file stays whole and the result is false.
    bool SaveToFile(const QString &fileName) const;

    // Clears, then copies the counts of the source (not the coefficients).
    // False when there is no source.
    bool AssignCounts(const TRadiationSpectr *source);

    // Counts from the installation's spectrum block: size / 4 (at most 1024)
    // 32-bit counts, little-endian, or big-endian when swap is set. Channels
    // the block does not reach are 0; trailing bytes short of a count are
    // ignored. Null data clears the counts and gives false.
    bool LoadFromBlock(const void *data, qint64 size, bool swap);
    bool LoadFromBlock(const QByteArray &block, bool swap);

    // The 512-byte header as written by SaveToFile.
    QByteArray HeaderBytes() const;
    // The whole 4608-byte file image.
    QByteArray FileImage() const;

private:
    void ParseHeader(const QByteArray &header);

    std::array<qint32, ChannelCount> counts_{};
};
