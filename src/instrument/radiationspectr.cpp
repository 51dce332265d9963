#include "instrument/radiationspectr.h"

#include "base/savefile.h"
#include "base/textutils.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

namespace {

qint32 readLittleEndian(const uchar *p)
{
    const quint32 v = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    return qint32(v);
}

void writeLittleEndian(qint32 value, char *p)
{
    const quint32 v = quint32(value);
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8 & 0xFF);
    p[2] = char(v >> 16 & 0xFF);
    p[3] = char(v >> 24 & 0xFF);
}

// The value of "<key>" up to the first ";" of the text, as a number. The
// stretch from the key through that ";" is cut out of the text, so the next
// key sees the next ";". When the first ";" lies before the key the value is
// empty (and therefore no number) and nothing is cut.
bool takeCoefficient(QByteArray &text, const char *key, long double &value)
{
    const qsizetype at = text.indexOf(key);
    const qsizetype semicolon = text.indexOf(';');
    if (at < 0 || semicolon < 0)
        return false; // key absent: the coefficient keeps its value
    QByteArray number;
    if (semicolon > at) {
        number = text.mid(at + 2, semicolon - at - 2);
        text.remove(at, semicolon - at + 1);
    }
    bool ok = false;
    const long double parsed = StrToFloatDot(TrimControls(number), &ok);
    if (ok)
        value = parsed;
    return ok;
}

bool isReadableFile(const QString &fileName)
{
    // A FIFO or a device would block the read or never end; only plain files load.
    const QFileInfo info(fileName);
    return info.exists() && info.isFile();
}

} // namespace

void TRadiationSpectr::Clear()
{
    counts_.fill(0);
}

qint32 TRadiationSpectr::GetCount(int channel) const
{
    if (channel < 0 || channel >= ChannelCount)
        return 0;
    return counts_[size_t(channel)];
}

void TRadiationSpectr::SetCount(int channel, qint32 value)
{
    if (channel >= 0 && channel < ChannelCount)
        counts_[size_t(channel)] = value;
}

qint64 TRadiationSpectr::SumCounts(int first, int last) const
{
    if (first > last)
        std::swap(first, last);
    // Only the channels that exist; markers may lie far outside them.
    first = std::max(first, 0);
    last = std::min(last, ChannelCount - 1);
    qint64 sum = 0;
    for (int c = first; c <= last; ++c)
        sum += counts_[size_t(c)];
    return sum;
}

QByteArray TRadiationSpectr::HeaderBytes() const
{
    QByteArray text = "A=" + FloatToStrDot(CoefA) + "; B=" + FloatToStrDot(CoefB) + ";";
    text.truncate(HeaderSize);
    text.append(QByteArray(HeaderSize - text.size(), '\0'));
    return text;
}

QByteArray TRadiationSpectr::FileImage() const
{
    QByteArray image = HeaderBytes();
    image.resize(FileSize);
    char *data = image.data() + HeaderSize;
    for (int i = 0; i < ChannelCount; ++i)
        writeLittleEndian(counts_[size_t(i)], data + 4 * i);
    return image;
}

bool TRadiationSpectr::SaveToFile(const QString &fileName) const
{
    return SaveFileAtomically(fileName, FileImage());
}

bool TRadiationSpectr::LoadFromFile(const QString &fileName)
{
    if (fileName.isEmpty() || !isReadableFile(fileName))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() < FileSize)
        return false;
    const QByteArray image = file.read(FileSize);
    if (image.size() != FileSize)
        return false; // read error: nothing changes
    return LoadFromFileImage(image);
}

bool TRadiationSpectr::LoadFromFileImage(const QByteArray &image)
{
    if (image.size() < FileSize)
        return false;
    const auto *data = reinterpret_cast<const uchar *>(image.constData()) + HeaderSize;
    for (int i = 0; i < ChannelCount; ++i)
        counts_[size_t(i)] = readLittleEndian(data + 4 * i);
    ParseHeader(image.left(HeaderSize));
    return true;
}

// Header rules: the 512 bytes trimmed of codes 0..32 at both ends (so the
// zero padding goes). A key that is absent leaves its coefficient alone; a
// key whose value is no number sets the coefficient to 1 (A) or 0 (B). Only
// the first ";" of the text ends a value, and B is looked for in what remains
// after the A stretch is cut out.
void TRadiationSpectr::ParseHeader(const QByteArray &header)
{
    QByteArray text = TrimControls(header);
    if (text.contains("A=") && text.contains(';')) {
        if (!takeCoefficient(text, "A=", CoefA))
            CoefA = 1.0L;
    }
    if (text.contains("B=") && text.contains(';')) {
        if (!takeCoefficient(text, "B=", CoefB))
            CoefB = 0.0L;
    }
}

bool TRadiationSpectr::AssignCounts(const TRadiationSpectr *source)
{
    if (!source)
        return false;
    if (source == this)
        return true; // clearing first would lose the counts to copy
    Clear();
    for (int i = 0; i < ChannelCount; ++i)
        counts_[size_t(i)] = source->GetCount(i);
    return true;
}

bool TRadiationSpectr::LoadFromBlock(const void *data, qint64 size, bool swap)
{
    Clear();
    if (!data)
        return false;
    const qint64 n = std::clamp<qint64>(size / 4, 0, ChannelCount);
    const auto *bytes = static_cast<const uchar *>(data);
    for (qint64 i = 0; i < n; ++i) {
        uchar b[4];
        std::memcpy(b, bytes + 4 * i, 4);
        if (swap) {
            std::swap(b[0], b[3]);
            std::swap(b[1], b[2]);
        }
        counts_[size_t(i)] = readLittleEndian(b);
    }
    return true;
}

bool TRadiationSpectr::LoadFromBlock(const QByteArray &block, bool swap)
{
    return LoadFromBlock(block.isNull() ? nullptr : block.constData(), block.size(), swap);
}
