#include "ServiceListDelegate.h"

#include <QApplication>
#include <QListWidgetItem>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int Gap = 4;

QPixmap drawState(ServiceListDelegate::State state, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    QPen mark(Qt::white, 2 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (state) {
    case ServiceListDelegate::State::Up: {
        // A green disc with a tick.
        p.setPen(QPen(QColor(0, 90, 30), u));
        p.setBrush(QColor(0, 150, 60));
        p.drawEllipse(QRectF(u, u, 14 * u, 14 * u));
        p.setPen(mark);
        const QPointF tick[] = {{4.5 * u, 8.5 * u}, {7 * u, 11 * u}, {11.5 * u, 5.5 * u}};
        p.drawPolyline(tick, 3);
        break;
    }
    case ServiceListDelegate::State::OnError: {
        // A red triangle with an exclamation mark.
        QPainterPath triangle;
        triangle.moveTo(8 * u, 0.8 * u);
        triangle.lineTo(15.2 * u, 14.8 * u);
        triangle.lineTo(0.8 * u, 14.8 * u);
        triangle.closeSubpath();
        p.setPen(QPen(QColor(120, 0, 0), u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(215, 0, 0));
        p.drawPath(triangle);
        p.setPen(mark);
        p.drawLine(QPointF(8 * u, 5.5 * u), QPointF(8 * u, 9.5 * u));
        p.drawPoint(QPointF(8 * u, 12.3 * u));
        break;
    }
    case ServiceListDelegate::State::NotChecked:
        // A hollow grey ring.
        p.setPen(QPen(QColor(128, 128, 128), 1.6 * u));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2 * u, 2 * u, 12 * u, 12 * u));
        break;
    }
    return pixmap;
}
} // namespace

QIcon ServiceListDelegate::stateIcon(State state)
{
    // Drawn once per state and kept with the application.
    static QIcon icons[3];
    QIcon &icon = icons[int(state)];
    if (icon.isNull()) {
        for (const int size : {16, 24, 32})
            icon.addPixmap(drawState(state, size));
    }
    return icon;
}

QString ServiceListDelegate::stateText(const std::optional<HistoryPoint> &last)
{
    if (!last)
        return QStringLiteral("not yet checked");
    if (last->up)
        return last->answered() ? QStringLiteral("%1 ms").arg(last->responseMs)
                                : QStringLiteral("up");
    return last->answered() ? QStringLiteral("on error, %1 ms").arg(last->responseMs)
                            : QStringLiteral("on error");
}

void ServiceListDelegate::setResult(QListWidgetItem *item, const std::optional<HistoryPoint> &last)
{
    const State state = !last ? State::NotChecked : last->up ? State::Up : State::OnError;
    const QString text = stateText(last);
    // Each change repaints the entry: a result like the last one changes nothing.
    if (item->data(StateRole).toInt() != int(state) || !item->data(StateRole).isValid())
        item->setData(StateRole, int(state));
    if (item->data(StateTextRole).toString() != text)
        item->setData(StateTextRole, text);
    // Screen readers hear what the icon shows.
    const QString spoken = item->text() + QStringLiteral(", ") + text;
    if (item->data(Qt::AccessibleTextRole).toString() != spoken)
        item->setData(Qt::AccessibleTextRole, spoken);
}

ServiceListDelegate::State ServiceListDelegate::stateOf(const QListWidgetItem *item)
{
    return State(item->data(StateRole).toInt());
}

int ServiceListDelegate::iconSide(const QStyleOptionViewItem &option)
{
    return qMax(12, option.fontMetrics.height() - 2);
}

void ServiceListDelegate::initStyleOption(QStyleOptionViewItem *option,
                                          const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QString state = index.data(StateTextRole).toString();
    if (!state.isEmpty())
        option->text += separator() + state;
}

void ServiceListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    // The row's background (selection included) under the state icon too.
    QStyleOptionViewItem row(option);
    initStyleOption(&row, index);
    row.text.clear();
    row.icon = QIcon();
    row.features &= ~QStyleOptionViewItem::HasDecoration;
    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &row, painter, option.widget);

    const int side = iconSide(option);
    const QRect iconRect(option.rect.left() + Gap / 2,
                         option.rect.top() + (option.rect.height() - side) / 2, side, side);
    const State state = State(index.data(StateRole).toInt());
    stateIcon(state).paint(painter, iconRect);

    QStyleOptionViewItem rest(option);
    rest.rect.setLeft(iconRect.right() + Gap);
    QStyledItemDelegate::paint(painter, rest, index);
}

QSize ServiceListDelegate::sizeHint(const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // The list's extent counts the names; the icon and the state come on top.
    const QString state = index.data(StateTextRole).toString();
    int extra = iconSide(option) + Gap + Gap / 2;
    if (!state.isEmpty())
        extra += option.fontMetrics.horizontalAdvance(separator() + state);
    size.setWidth(size.width() + extra);
    size.setHeight(qMax(size.height(), iconSide(option) + 2));
    return size;
}
