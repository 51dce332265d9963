#pragma once
// Where kvarnctl's output goes: standard output for results, standard error
// for messages, the exchange (--verbose) and the progress bar. Texts of the
// core are code page 1251; they reach the terminal in its own encoding.

#include "base/sinks.h"

#include <QByteArray>
#include <QString>
#include <cstdio>

class TCliConsole {
public:
    // errIsTerminal: whether err is a terminal (the progress bar shows only then).
    TCliConsole(FILE *out, FILE *err, bool errIsTerminal);
    // Standard output and standard error of this process.
    static TCliConsole Standard();

    // One line on standard output, flushed at once (poll lines reach a pipe
    // as they come).
    void Out(const QString &line);
    void OutCp1251(const QByteArray &line);
    // Bytes to standard output as they are.
    void OutBytes(const QByteArray &bytes);
    // "kvarnctl: " and the message, on standard error.
    void Error(const QString &message);
    // One line on standard error as it is (help, verbose lines).
    void ErrLine(const QString &line);
    // Text without a line end on standard error (the progress bar).
    void ErrText(const QString &text);

    bool ErrIsTerminal() const { return errIsTerminal_; }

    // Why a write or flush of standard output failed (a full disk, a closed
    // pipe), or empty while every byte went out. The first failure is kept.
    QString OutError() const { return outError_; }

private:
    FILE *out_;
    QString outError_;
    FILE *err_;
    bool errIsTerminal_;
};

// The driver's terminal: prints the exchange on standard error when verbose,
// and always remembers the latest request and how it went, so that a failed
// transaction can name the variable it failed on.
class TCliTerminal : public TerminalSink {
public:
    TCliTerminal(TCliConsole &console, bool verbose) : console_(console), verbose_(verbose) {}

    // Forgets what the previous transaction left.
    void BeginTransaction();

    // The request text of the latest exchange ("ACTIVITY:A042=??;"), empty
    // when nothing was sent since BeginTransaction.
    QByteArray LastRequest() const { return lastRequest_; }
    // NAME[:INDEX] of the latest request.
    QByteArray LastVariable() const;
    // Attempts made for the latest request.
    int Attempts() const { return attempts_; }
    // What became of the latest attempt: "no answer", "bad checksum", or
    // empty when an answer came.
    QString LastOutcome() const;
    // A message for a transaction that failed: the variable, the attempts
    // and the outcome ("DRYCONTACTOUT: no valid answer after 3 attempts (no answer)").
    QString FailureText() const;

    // TerminalSink: nothing is kept, so there is nothing to delete.
    int LineCount() const override { return 0; }
    void DeleteFirstLine() override {}
    void AppendLine(const QByteArray &line) override;

private:
    TCliConsole &console_;
    bool verbose_;
    QByteArray lastRequest_;
    QByteArray lastReply_;
    int attempts_ = 0;
    bool replied_ = false;
};

// A progress bar on standard error, drawn only when standard error is a
// terminal: "[#########...........]  42%" rewritten in place.
class TCliProgress : public ProgressSink {
public:
    TCliProgress(TCliConsole &console, bool enabled) : console_(console), enabled_(enabled) {}
    ~TCliProgress() override { Finish(); }

    int Minimum() const override { return 0; }
    int Maximum() const override { return 100; }
    void SetPosition(int position) override;
    // Clears the bar's line, if one was drawn.
    void Finish();

private:
    TCliConsole &console_;
    bool enabled_;
    bool drawn_ = false;
    int last_ = -1;
};
