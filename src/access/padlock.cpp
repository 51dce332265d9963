#include "access/padlock.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <numbers>

QPixmap PadlockPixmap(bool open)
{
    QPixmap pixmap(50, 50);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // The shackle: two legs and an arc. Open, it is lifted so that the left
    // leg stands clear of the body.
    const qreal lift = open ? 5 : 0;
    QPainterPath shackle;
    shackle.moveTo(16, 26 - lift);
    shackle.lineTo(16, 17 - lift);
    shackle.arcTo(QRectF(16, 8 - lift, 18, 18), 180, -180);
    shackle.lineTo(34, 27);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(70, 70, 80), 6, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(shackle);
    p.setPen(QPen(QColor(190, 195, 205), 2.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(shackle);

    // The body with a keyhole.
    const QRectF body(8, 25, 34, 22);
    QLinearGradient gold(body.topLeft(), body.bottomRight());
    gold.setColorAt(0, QColor(255, 226, 120));
    gold.setColorAt(1, QColor(190, 130, 20));
    p.setPen(QPen(QColor(110, 70, 10), 1.5));
    p.setBrush(gold);
    p.drawRoundedRect(body, 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 30, 10));
    p.drawEllipse(QPointF(25, 33), 3.2, 3.2);
    p.drawRect(QRectF(23.8, 34, 2.4, 8));

    if (open) {
        // A four-pointed yellow spark above the lifted leg.
        const QPointF c(8, 8);
        QPolygonF star;
        for (int i = 0; i < 8; ++i) {
            const qreal r = (i % 2 == 0) ? 7.5 : 2.2;
            const qreal a = std::numbers::pi / 4 * i;
            star << c + QPointF(r * std::sin(a), -r * std::cos(a));
        }
        p.setPen(QPen(QColor(200, 140, 0), 0.8));
        p.setBrush(QColor(255, 235, 40));
        p.drawPolygon(star);
    }
    return pixmap;
}
