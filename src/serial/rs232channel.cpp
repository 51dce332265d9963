#include "serial/rs232channel.h"

#include "serial/comproperties.h"
#include "serial/quitsignals.h"

#include <algorithm>
#include <limits>

TRS232Channel::TRS232Channel()
    : settings_(std::make_unique<TComSettings>()), properties_(std::make_unique<TComProperties>())
{
}

TRS232Channel::~TRS232Channel() = default;

TComSettings &TRS232Channel::Settings()
{
    return *settings_;
}

const TComSettings &TRS232Channel::Settings() const
{
    return *settings_;
}

TComProperties &TRS232Channel::Properties()
{
    return *properties_;
}

bool TRS232Channel::LoadSettings(const QString &fileName, int *keysFound)
{
    return settings_->LoadSettings(fileName, keysFound);
}

bool TRS232Channel::SaveSettings(const QString &fileName)
{
    return settings_->SaveSettings(fileName);
}

bool TRS232Channel::Open()
{
    properties_->ApplySettings(*settings_);
    state_ = properties_->Opened ? 0 : 1;
    lineFailed_ = false;
    if (properties_->Opened)
        ++opens_;
    return properties_->Opened;
}

bool TRS232Channel::ReopenIfFailed(bool *reopened)
{
    const bool needed = state_ != 0 || lineFailed_;
    if (reopened)
        *reopened = needed;
    if (!needed)
        return true;
    Close();
    return Open();
}

void TRS232Channel::Close()
{
    properties_->ClosePort();
}

QString TRS232Channel::ErrorText() const
{
    return properties_->ErrorText();
}

TPortFailure TRS232Channel::Failure() const
{
    return properties_->Failure();
}

bool TRS232Channel::Configure(SettingsEditor &editor)
{
    // The copy puts back exactly what was there, empty texts included.
    const TComSettings saved = *settings_;
    bool ok = false;
    try {
        ok = editor.Edit(*settings_);
    } catch (...) {
        *settings_ = saved;
        throw;
    }
    if (!ok)
        *settings_ = saved;
    return ok;
}

bool TRS232Channel::Write(const quint8 *buffer, int &count)
{
    try {
        TLine *line = properties_->Line();
        // Once the program is told to end, nothing more goes out.
        if (state_ != 0 || !buffer || count < 0 || !line || QuitSignal())
            throw EInvalidRS232Operation();
        int written = 0;
        if (!failed(line->Write(buffer, count, written)))
            throw EInvalidRS232Operation();
        count = written;
        return true;
    } catch (const EInvalidRS232Operation &) {
        count = 0;
        return false;
    }
}

bool TRS232Channel::Read(quint8 *buffer, int capacity, int &count)
{
    count = 0;
    try {
        TLine *line = properties_->Line();
        if (state_ != 0 || !buffer || capacity < 0 || !line)
            throw EInvalidRS232Operation();
        int got = 0;
        if (!failed(line->Read(buffer, capacity, got, properties_->LineReadTimeouts())))
            throw EInvalidRS232Operation();
        count = got;
        return true;
    } catch (const EInvalidRS232Operation &) {
        count = 0;
        return false;
    }
}

bool TRS232Channel::ReadFirst(quint8 *buffer, int capacity, int whole, int &count)
{
    count = 0;
    TLine *line = properties_->Line();
    if (state_ != 0 || !buffer || capacity < 0 || !line)
        return false;
    // The whole reply's total time-out, reckoned once for the first part.
    ReadTimeouts t = properties_->LineReadTimeouts();
    t.TotalConstant = quint32(std::min<qint64>(qint64(t.TotalMultiplier) * std::max(whole, capacity) + t.TotalConstant,
                                               std::numeric_limits<quint32>::max()));
    t.TotalMultiplier = 0;
    int got = 0;
    if (!failed(line->Read(buffer, capacity, got, t)))
        return false;
    count = got;
    return true;
}

bool TRS232Channel::ReadMore(quint8 *buffer, int capacity, int &count)
{
    count = 0;
    TLine *line = properties_->Line();
    if (state_ != 0 || !buffer || capacity < 0 || !line)
        return false;
    int got = 0;
    if (!failed(line->ReadMore(buffer, capacity, got)))
        return false;
    count = got;
    return true;
}

qint64 TRS232Channel::DropPendingInput(int whole)
{
    TLine *line = properties_->Line();
    if (state_ != 0 || !line)
        return -1;
    const qint64 dropped = line->DropInput(properties_->LineReadTimeouts().Interval, ReadTimeLimit(whole));
    failed(dropped >= 0);
    return dropped;
}

qint64 TRS232Channel::ReadTimeLimit(int whole) const
{
    const ReadTimeouts t = properties_->LineReadTimeouts();
    return qint64(t.TotalMultiplier) * whole + t.TotalConstant;
}

qint64 TRS232Channel::DropInputFor(qint64 ms)
{
    TLine *line = properties_->Line();
    if (state_ != 0 || !line)
        return -1;
    const qint64 dropped = line->DropInputFor(ms);
    failed(dropped >= 0);
    return dropped;
}

qint64 TRS232Channel::DropFollowingInput(int whole)
{
    TLine *line = properties_->Line();
    if (state_ != 0 || !line)
        return -1;
    // A read of one byte that lasts no longer than the interval time-out.
    const quint32 interval = std::max<quint32>(properties_->LineReadTimeouts().Interval, 1);
    quint8 first = 0;
    int got = 0;
    if (!failed(line->Read(&first, 1, got, ReadTimeouts{interval, 0, interval})))
        return -1;
    if (got == 0)
        return 0;
    return got + std::max<qint64>(0, DropPendingInput(whole));
}

void TRS232Channel::SetLineFactory(LineFactory factory)
{
    properties_->SetLineFactory(std::move(factory));
}
