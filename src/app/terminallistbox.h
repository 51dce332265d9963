#pragma once
// The terminal page's list box: one line per request and per reply of the
// exchange. The protocol driver writes to it through TerminalSink (code page
// 1251 lines) and keeps it within its line limit.
//
// Every line keeps the time it came in. The times are shown in front of the
// lines on request (off at start, when the lines are exactly the exchange's),
// and the whole log can be saved as a UTF-8 text file with its times.

#include "base/sinks.h"

#include <QListWidget>

class OperatorPrompt;
class QAction;
class QMenu;

class TTerminalListBox : public QListWidget, public TerminalSink {
    Q_OBJECT
public:
    explicit TTerminalListBox(QWidget *parent = nullptr);

    int LineCount() const override;
    void DeleteFirstLine() override;
    // Control characters of the line are shown as their picture symbols, so
    // that every line stays one row. While the last line is in sight the
    // list follows the new lines.
    void AppendLine(const QByteArray &line) override;
    void AppendLineAt(const QByteArray &line, const QDateTime &when) override;

    // The text as shown for a code page 1251 line.
    static QString DisplayText(const QByteArray &line);

    // "hh:mm:ss.zzz" in front of every line, or not.
    void SetShowTimes(bool on);
    bool ShowTimes() const { return showTimes_; }
    // Every line with its date and time, one a line, as UTF-8.
    QByteArray LogText() const;
    // Asks for a file name and writes LogText there whole; a failed write
    // is reported.
    void SaveLog();

    // The log's items of the page's context menu, going through the prompt
    // (not owned): the times switch and "Сохранить журнал…".
    void AddLogItems(QMenu &menu, OperatorPrompt &prompt);
    QAction *ShowTimesItem = nullptr;
    QAction *SaveLogItem = nullptr;

    static constexpr int kItemHeight = 14;

private:
    static QString ShownText(const QListWidgetItem &item, bool withTime);

    bool showTimes_ = false;
    OperatorPrompt *prompt_ = nullptr;
};
