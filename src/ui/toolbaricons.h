#pragma once
// The six pictures of the main tool bar, drawn at run time:
// 0 open a file, 1 save to a file, 2 device number, 3 write to the
// installation, 4 read from the installation, 5 test mode.

#include <QIcon>
#include <QPointF>

#include <initializer_list>

class QPainter;
class QToolBar;

inline constexpr int kToolBarIconCount = 6;

// An empty icon for indexes out of range.
QIcon MainToolBarIcon(int index);

// An icon drawn by paint on a 16 x 16 grid, at one and at two pixels per unit.
QIcon PaintedIcon(void (*paint)(QPainter &));

// Strokes for painters on that grid, with the painter's pen and brush: the
// path through the points, closed and filled unless told otherwise, and an
// arrow from its tail to its tip with both barbs drawn to the tip.
void DrawOutline(QPainter &p, std::initializer_list<QPointF> points, bool closed = true);
void DrawArrow(QPainter &p, const QPointF &tail, const QPointF &tip, const QPointF &barb1, const QPointF &barb2);

// Shows a separator of the tool bar only between two buttons that show: none
// at either end, and one where the buttons of a hidden group were. Call after
// showing or hiding buttons.
void TidyToolBarSeparators(QToolBar &bar);
