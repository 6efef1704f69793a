#include "AppIcons.h"

#include <QPainter>
#include <QPixmap>

namespace {
QPixmap dot(const QColor &fill, const QColor &ring, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = size / 10.0;
    painter.setPen(QPen(ring, pen));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(pen, pen, size - 2 * pen, size - 2 * pen));
    // A small pulse line, the monitor's mark.
    QPen line(Qt::white, size / 12.0);
    line.setCapStyle(Qt::RoundCap);
    painter.setPen(line);
    const qreal y = size / 2.0;
    const qreal u = size / 8.0;
    const QPointF points[] = {{2 * u, y}, {3.2 * u, y}, {3.8 * u, y - 1.6 * u},
                              {4.6 * u, y + 1.6 * u}, {5.2 * u, y}, {6 * u, y}};
    painter.drawPolyline(points, 6);
    return pixmap;
}

QIcon iconOf(const QColor &fill, const QColor &ring)
{
    QIcon icon;
    for (const int size : {16, 22, 32, 48, 64})
        icon.addPixmap(dot(fill, ring, size));
    return icon;
}
} // namespace

QIcon AppIcons::application()
{
    return iconOf(QColor(0, 150, 60), QColor(0, 90, 30));
}

QIcon AppIcons::trayImage(PollView::TrayIcons set, int index)
{
    if (set == PollView::TrayIcons::Polling)
        return iconOf(QColor(30, 110, 220), QColor(10, 50, 120));
    if (index % 2 == 0)
        return application();
    return iconOf(QColor(220, 0, 0), QColor(120, 0, 0));
}

int AppIcons::trayImageCount(PollView::TrayIcons set)
{
    return set == PollView::TrayIcons::Polling ? 1 : 2;
}

QPixmap AppIcons::statusOk()
{
    return dot(QColor(0, 150, 60), QColor(0, 90, 30), 16);
}

QPixmap AppIcons::statusError()
{
    return dot(QColor(220, 0, 0), QColor(120, 0, 0), 16);
}
