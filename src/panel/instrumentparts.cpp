#include "instrumentparts.h"

#include "palette.h"
#include "roundedshape.h"

#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

using namespace Palette;

qreal deviceRatio(const QPainter &painter)
{
    const qreal scale = std::hypot(painter.worldTransform().m11(), painter.worldTransform().m12());
    return painter.device()->devicePixelRatio() * (scale > 0 ? scale : 1);
}

void paintPlate(QPainter &painter, const QRectF &rect)
{
    const QPainterPath outline = continuousRoundedRect(rect, 2.5);
    painter.fillPath(outline, plate);
    QLinearGradient edge(rect.topLeft(), rect.bottomLeft());
    edge.setColorAt(0.0, withOpacity(Qt::black, 0.6f));
    edge.setColorAt(0.5, withOpacity(Qt::black, 0.0f));
    edge.setColorAt(1.0, withOpacity(Qt::white, 0.18f));
    painter.strokePath(outline, QPen(QBrush(edge), 0.8));
}

void paintMetal(QPainter &painter, const QRectF &rect)
{
    QLinearGradient metal(rect.topLeft(), rect.bottomRight());
    metal.setColorAt(0.0, bodyLight);
    metal.setColorAt(0.25, bodyMid);
    metal.setColorAt(0.5, bodyDark);
    metal.setColorAt(0.75, bodyMid);
    metal.setColorAt(1.0, bodyLight);
    painter.fillRect(rect, metal);

    QLinearGradient sheen(rect.topLeft(), rect.bottomLeft());
    sheen.setColorAt(0.0, withOpacity(Qt::white, sheenTop));
    sheen.setColorAt(0.5, withOpacity(Qt::white, 0.0f));
    sheen.setColorAt(1.0, withOpacity(Qt::white, 0.02f));
    painter.fillRect(rect, sheen);
}
