#pragma once
// The terminal page's list box: one line per request and per reply of the
// exchange. The protocol driver writes to it through TerminalSink (code page
// 1251 lines) and keeps it within its line limit.

#include "base/sinks.h"

#include <QListWidget>

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

    // The text as shown for a code page 1251 line.
    static QString DisplayText(const QByteArray &line);

    static constexpr int kItemHeight = 14;
};
