#include "ui/toolbaricons.h"

#include <QPainter>
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
    QPainterPath back;
    back.moveTo(1.5, 13.5);
    back.lineTo(1.5, 4.5);
    back.lineTo(5.5, 4.5);
    back.lineTo(6.5, 5.5);
    back.lineTo(12.5, 5.5);
    back.lineTo(12.5, 13.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(255, 224, 120));
    QPainterPath front;
    front.moveTo(1.5, 13.5);
    front.lineTo(3.5, 8.5);
    front.lineTo(14.5, 8.5);
    front.lineTo(12.5, 13.5);
    front.closeSubpath();
    p.drawPath(front);
    // an arrow out of the folder
    p.setPen(QPen(QColor(0, 128, 0), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(11, 7), QPointF(11, 1.5));
    p.drawLine(QPointF(8.8, 3.7), QPointF(11, 1.5));
    p.drawLine(QPointF(13.2, 3.7), QPointF(11, 1.5));
}

void paintSave(QPainter &p)
{
    p.setPen(QPen(QColor(0, 0, 96), 1));
    p.setBrush(QColor(40, 70, 160));
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12.5, 1.5);
    body.lineTo(14.5, 3.5);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.drawPath(body);
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
    if (down) {
        p.drawLine(QPointF(8, 0.8), QPointF(8, 7.5));
        p.drawLine(QPointF(5, 4.8), QPointF(8, 7.8));
        p.drawLine(QPointF(11, 4.8), QPointF(8, 7.8));
    } else {
        p.drawLine(QPointF(8, 7.8), QPointF(8, 1.2));
        p.drawLine(QPointF(5, 4.2), QPointF(8, 1.2));
        p.drawLine(QPointF(11, 4.2), QPointF(8, 1.2));
    }
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
    QPainterPath trace;
    trace.moveTo(1.5, 10);
    trace.lineTo(4, 10);
    trace.lineTo(5.5, 5);
    trace.lineTo(7.5, 12);
    trace.lineTo(9, 4);
    trace.lineTo(10.5, 9);
    trace.lineTo(14.5, 9);
    p.setPen(QPen(QColor(80, 255, 80), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
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
