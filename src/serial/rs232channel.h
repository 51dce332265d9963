#pragma once
// The byte pipe between the protocol driver and the line to the installation.
// Owns the serial settings and the port; knows nothing of frames.

#include "serial/comsettings.h"
#include "serial/line.h"

#include <QString>
#include <exception>
#include <functional>
#include <memory>

class TComProperties;

// A write or read that cannot be made; raised and caught inside the channel.
class EInvalidRS232Operation : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

// Edits the settings in place (the window shows "Параметры внешнего канала");
// true when the operator confirmed.
class SettingsEditor {
public:
    virtual ~SettingsEditor() = default;
    virtual bool Edit(TComSettings &settings) = 0;
};

class TRS232Channel {
public:
    TRS232Channel();
    virtual ~TRS232Channel();

    TComSettings &Settings();
    const TComSettings &Settings() const;
    TComProperties &Properties();

    // "commport.cfg" in the program folder when the name has no folder part.
    // keysFound as TComSettings::LoadSettings gives it.
    bool LoadSettings(const QString &fileName, int *keysFound = nullptr);
    bool SaveSettings(const QString &fileName);

    // (Re)opens the line with the current settings; State 0 on success, 1 otherwise.
    bool Open();
    void Close();
    // Snapshot, edit; on anything but OK the snapshot is put back. Saves,
    // closes and opens nothing.
    bool Configure(SettingsEditor &editor);

    // Refused once the program has been told to end (see quitsignals.h).
    bool Write(const quint8 *buffer, int &count);
    bool Read(quint8 *buffer, int capacity, int &count);

    // A reply read in parts: ReadFirst reads up to capacity bytes with the
    // time-outs of one read of `whole` bytes, and ReadMore reads further
    // parts within those same time-outs (see TLine::ReadMore). Each part
    // ends as soon as its bytes are there. Refused as Read is.
    bool ReadFirst(quint8 *buffer, int capacity, int whole, int &count);
    bool ReadMore(quint8 *buffer, int capacity, int &count);
    // Drops the input waiting on the line and whatever follows it within the
    // read interval time-out, for at most the total time-out of a read of
    // `whole` bytes. The number of bytes dropped; -1 when the line cannot be
    // read (not opened, failed).
    qint64 DropPendingInput(int whole);
    // Called when a reply has just been read whole: waits up to the read
    // interval time-out for input that follows it (another frame on its
    // heels), and drops that input as DropPendingInput does. The number of
    // bytes dropped, 0 when the line stayed quiet; -1 when it cannot be read.
    qint64 DropFollowingInput(int whole);
    // The total time-out of a read of `whole` bytes, in ms (0: none).
    qint64 ReadTimeLimit(int whole) const;
    // Drops whatever arrives for the next ms milliseconds (see TLine). -1
    // when the line cannot be read.
    qint64 DropInputFor(qint64 ms);
    // How many times the line has been opened: a change tells a user of the
    // channel that the line is a fresh one, with whatever it may still carry.
    quint64 Opens() const { return opens_; }

    // 0 ready (the last Open succeeded), 1 not opened.
    quint8 State() const { return state_; }
    // The line failed under a read or write since it was opened (an adapter
    // pulled out): every later exchange would fail at once until it is
    // opened again.
    bool LineFailed() const { return lineFailed_; }
    // Not opened, or failed since: closes and opens it again with the same
    // settings. True when it was ready or is now; reopened tells whether
    // an opening was tried.
    bool ReopenIfFailed(bool *reopened = nullptr);
    // Why the last Open failed, for logs (empty after a success).
    QString ErrorText() const;
    // The same, sorted for the operator (Problem None after a success).
    TPortFailure Failure() const;

    // Tests and tools may supply the line instead of the one the port name
    // selects; the factory is asked at every Open.
    using LineFactory = std::function<std::unique_ptr<TLine>(const TComSettings &)>;
    void SetLineFactory(LineFactory factory);

private:
    std::unique_ptr<TComSettings> settings_;
    std::unique_ptr<TComProperties> properties_;
    quint8 state_ = 1;
    bool lineFailed_ = false;
    // Notes a failure of the line itself (not a refusal for want of a line).
    bool failed(bool ok)
    {
        if (!ok)
            lineFailed_ = true;
        return ok;
    }
    quint64 opens_ = 0;
};
