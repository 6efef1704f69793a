#include "AppIcons.h"

#include "platform/DesktopId.h"

#include <QCoreApplication>
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

// Drawn once: the tray icon changes every second while a service is on
// error, and drawing five antialiased sizes each time is not for free. The
// drawings go with the application object.
struct Drawn {
    // The installed theme icon where there is one, so the window, the tray
    // and the menu entry look alike; the drawn one otherwise.
    QIcon application = QIcon::fromTheme(desktopId(), iconOf(QColor(0, 150, 60), QColor(0, 90, 30)));
    QIcon error = iconOf(QColor(220, 0, 0), QColor(120, 0, 0));
    QIcon polling = iconOf(QColor(30, 110, 220), QColor(10, 50, 120));
    QPixmap statusOk = dot(QColor(0, 150, 60), QColor(0, 90, 30), 16);
    QPixmap statusError = dot(QColor(220, 0, 0), QColor(120, 0, 0), 16);
};

Drawn *g_drawn = nullptr;

const Drawn &drawn()
{
    if (!g_drawn) {
        g_drawn = new Drawn;
        qAddPostRoutine([] {
            delete g_drawn;
            g_drawn = nullptr;
        });
    }
    return *g_drawn;
}
} // namespace

QIcon AppIcons::application()
{
    return drawn().application;
}

QIcon AppIcons::trayImage(PollView::TrayIcons set, int index)
{
    if (set == PollView::TrayIcons::Polling)
        return drawn().polling;
    return index % 2 == 0 ? drawn().application : drawn().error;
}

int AppIcons::trayImageCount(PollView::TrayIcons set)
{
    return set == PollView::TrayIcons::Polling ? 1 : 2;
}

QPixmap AppIcons::statusOk()
{
    return drawn().statusOk;
}

QPixmap AppIcons::statusError()
{
    return drawn().statusError;
}
