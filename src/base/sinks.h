#pragma once
// Where the exchange shows itself: the terminal (one line per request and per
// reply) and progress bars. The window's list box and bars implement these,
// and so does the command-line tool's printer. Lines are code page 1251.

#include <QByteArray>
#include <QDateTime>

class TerminalSink {
public:
    virtual ~TerminalSink() = default;
    virtual int LineCount() const = 0;
    virtual void DeleteFirstLine() = 0;
    virtual void AppendLine(const QByteArray &line) = 0;
    // A line about something that happened at `when` (a request goes out
    // before its reply comes, but is written with it). A sink that keeps no
    // times takes the line as any other.
    virtual void AppendLineAt(const QByteArray &line, const QDateTime &when)
    {
        Q_UNUSED(when);
        AppendLine(line);
    }
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual int Minimum() const = 0;
    virtual int Maximum() const = 0;
    // Sets the position and repaints at once: the caller blocks the event loop.
    virtual void SetPosition(int position) = 0;
};

// position := minimum + Trunc((maximum - minimum) * percent / 100)
inline void SetProgressPercent(ProgressSink *bar, int percent)
{
    if (!bar)
        return;
    const long long span = (long long)bar->Maximum() - bar->Minimum();
    bar->SetPosition(int(bar->Minimum() + span * percent / 100));
}

inline void ResetProgress(ProgressSink *bar)
{
    if (bar)
        bar->SetPosition(bar->Minimum());
}
