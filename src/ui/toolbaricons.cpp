#include "ui/toolbaricons.h"

#include <QAction>
#include <QPainter>
#include <QToolBar>
#include <QPainterPath>
#include <QPixmap>

namespace {
using Painter = void (*)(QPainter &);

// Draws on a 16 x 16 grid at the given pixel ratio.
QPixmap render(Painter paint, qreal ratio)
{
    QPixmap pixmap(int(16 * ratio), int(16 * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return pixmap;
}

void paintOpen(QPainter &p)
{
    p.setPen(QPen(QColor(128, 96, 0), 1));
    p.setBrush(QColor(240, 200, 80));
    DrawOutline(p, {{1.5, 13.5}, {1.5, 4.5}, {5.5, 4.5}, {6.5, 5.5}, {12.5, 5.5}, {12.5, 13.5}}); // back
    p.setBrush(QColor(255, 224, 120));
    DrawOutline(p, {{1.5, 13.5}, {3.5, 8.5}, {14.5, 8.5}, {12.5, 13.5}}); // front
    // an arrow out of the folder
    p.setPen(QPen(QColor(0, 128, 0), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    DrawArrow(p, {11, 7}, {11, 1.5}, {8.8, 3.7}, {13.2, 3.7});
}

void paintSave(QPainter &p)
{
    p.setPen(QPen(QColor(0, 0, 96), 1));
    p.setBrush(QColor(40, 70, 160));
    DrawOutline(p, {{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}}); // body
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 235, 235));
    p.drawRect(QRectF(4, 2, 7, 5)); // label
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(8.5, 2.8, 1.6, 3.4)); // shutter window
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(3.5, 9.5, 9, 5)); // shutter
}

void deviceBox(QPainter &p, const QRectF &box)
{
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRoundedRect(box, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 96, 0));
    p.drawRect(QRectF(box.left() + 2, box.top() + 2, box.width() - 7, box.height() - 4)); // display
    p.setBrush(QColor(255, 0, 0));
    p.drawEllipse(QPointF(box.right() - 2.5, box.top() + 3), 1.2, 1.2); // lamp
}

void paintNumber(QPainter &p)
{
    deviceBox(p, QRectF(0.5, 8.5, 15, 7));
    // a number tag: "#" on a yellow label
    p.setPen(QPen(QColor(96, 80, 0), 1));
    p.setBrush(QColor(255, 230, 90));
    p.drawRoundedRect(QRectF(3.5, 0.5, 9, 9), 1.5, 1.5);
    p.setPen(QPen(QColor(0, 0, 0), 1.1));
    p.drawLine(QPointF(6.6, 2), QPointF(5.8, 8));
    p.drawLine(QPointF(10, 2), QPointF(9.2, 8));
    p.drawLine(QPointF(4.8, 4), QPointF(11.4, 4));
    p.drawLine(QPointF(4.6, 6.2), QPointF(11.2, 6.2));
}

void arrow(QPainter &p, bool down, const QColor &colour)
{
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (down)
        DrawArrow(p, {8, 0.8}, {8, 7.8}, {5, 4.8}, {11, 4.8});
    else
        DrawArrow(p, {8, 7.8}, {8, 1.2}, {5, 4.2}, {11, 4.2});
}

void paintWrite(QPainter &p)
{
    deviceBox(p, QRectF(0.5, 8.5, 15, 7));
    arrow(p, true, QColor(200, 0, 0));
}

void paintRead(QPainter &p)
{
    deviceBox(p, QRectF(0.5, 8.5, 15, 7));
    arrow(p, false, QColor(0, 140, 0));
}

void paintTestMode(QPainter &p)
{
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(0, 48, 0));
    p.drawRoundedRect(QRectF(0.5, 1.5, 15, 13), 1.5, 1.5);
    p.setPen(QPen(QColor(0, 80, 0), 0.8));
    for (int y = 4; y <= 12; y += 4)
        p.drawLine(QPointF(1.5, y + 0.5), QPointF(14.5, y + 0.5));
    p.setPen(QPen(QColor(80, 255, 80), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    // the trace: a line left open
    DrawOutline(p, {{1.5, 10}, {4, 10}, {5.5, 5}, {7.5, 12}, {9, 4}, {10.5, 9}, {14.5, 9}},
                false);
}
} // namespace

QIcon MainToolBarIcon(int index)
{
    static const Painter painters[kToolBarIconCount] = {paintOpen, paintSave, paintNumber, paintWrite, paintRead, paintTestMode};
    if (index < 0 || index >= kToolBarIconCount)
        return QIcon();
    return PaintedIcon(painters[index]);
}

QIcon PaintedIcon(void (*paint)(QPainter &))
{
    QIcon icon;
    icon.addPixmap(render(paint, 1));
    icon.addPixmap(render(paint, 2));
    return icon;
}

void DrawOutline(QPainter &p, std::initializer_list<QPointF> points, bool closed)
{
    if (points.size() == 0)
        return;
    QPainterPath path;
    path.moveTo(*points.begin());
    for (auto it = points.begin() + 1; it != points.end(); ++it)
        path.lineTo(*it);
    if (closed)
        path.closeSubpath();
    p.drawPath(path);
}

void DrawArrow(QPainter &p, const QPointF &tail, const QPointF &tip, const QPointF &barb1, const QPointF &barb2)
{
    p.drawLine(tail, tip);
    p.drawLine(barb1, tip);
    p.drawLine(barb2, tip);
}

void TidyToolBarSeparators(QToolBar &bar)
{
    QAction *pending = nullptr; // the separator after the last button that shows
    bool buttonBefore = false;
    for (QAction *action : bar.actions()) {
        if (action->isSeparator()) {
            action->setVisible(false);
            if (buttonBefore && !pending)
                pending = action;
        } else if (action->isVisible()) {
            if (pending)
                pending->setVisible(true);
            pending = nullptr;
            buttonBefore = true;
        }
    }
}
