#include "ServiceListDelegate.h"

#include <QAccessible>
#include <QApplication>
#include <QListWidget>
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

ServiceListDelegate::ServiceListDelegate(QListWidget *list) : QStyledItemDelegate(list), m_list(list)
{
    QAccessible::installActivationObserver(this);
}

ServiceListDelegate::~ServiceListDelegate()
{
    QAccessible::removeActivationObserver(this);
}

void ServiceListDelegate::accessibilityActiveChanged(bool active)
{
    if (!active)
        return;
    for (int row = 0; row < m_list->count(); ++row)
        updateSpokenText(m_list->item(row));
}

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
        return last->answered() ? QString::number(last->responseMs) + QStringLiteral(" ms")
                                : QStringLiteral("up");
    return last->answered() ? QStringLiteral("on error, ") + QString::number(last->responseMs) +
                                  QStringLiteral(" ms")
                            : QStringLiteral("on error");
}

// Not yet checked is no value at all; a result is 1 (up) or 2 (on error) in
// the low two bits and the response time plus one (0: none) above them.
qlonglong ServiceListDelegate::pack(const std::optional<HistoryPoint> &last)
{
    if (!last)
        return 0;
    const qlonglong ms = last->answered() ? qlonglong(last->responseMs) + 1 : 0;
    return (ms << 2) | (last->up ? 1 : 2);
}

std::optional<HistoryPoint> ServiceListDelegate::unpack(const QVariant &packed)
{
    const qlonglong value = packed.toLongLong();
    if (value <= 0)
        return std::nullopt;
    HistoryPoint point;
    point.up = (value & 3) == 1;
    point.responseMs = int((value >> 2) - 1);
    return point;
}

void ServiceListDelegate::setResult(QListWidgetItem *item, const std::optional<HistoryPoint> &last)
{
    const qlonglong packed = pack(last);
    // Each change repaints the entry: a result like the last one changes nothing.
    const QVariant now = item->data(ResultRole);
    if (now.isValid() && now.toLongLong() == packed)
        return;
    item->setData(ResultRole, packed);
    if (QAccessible::isActive() || item->data(Qt::AccessibleTextRole).isValid())
        updateSpokenText(item);
}

void ServiceListDelegate::updateSpokenText(QListWidgetItem *item)
{
    // Screen readers hear what the icon shows.
    const QString spoken = item->text() + QStringLiteral(", ") + stateTextOf(item);
    if (item->data(Qt::AccessibleTextRole).toString() != spoken)
        item->setData(Qt::AccessibleTextRole, spoken);
}

ServiceListDelegate::State ServiceListDelegate::stateOf(const QListWidgetItem *item)
{
    const std::optional<HistoryPoint> last = unpack(item->data(ResultRole));
    return !last ? State::NotChecked : last->up ? State::Up : State::OnError;
}

QString ServiceListDelegate::stateTextOf(const QListWidgetItem *item)
{
    return stateText(unpack(item->data(ResultRole)));
}

int ServiceListDelegate::iconSide(const QStyleOptionViewItem &option)
{
    return qMax(12, option.fontMetrics.height() - 2);
}

void ServiceListDelegate::initStyleOption(QStyleOptionViewItem *option,
                                          const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text += separator() + stateText(unpack(index.data(ResultRole)));
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
    const std::optional<HistoryPoint> last = unpack(index.data(ResultRole));
    stateIcon(!last ? State::NotChecked : last->up ? State::Up : State::OnError).paint(painter, iconRect);

    QStyleOptionViewItem rest(option);
    rest.rect.setLeft(iconRect.right() + Gap);
    QStyledItemDelegate::paint(painter, rest, index);
}

QSize ServiceListDelegate::sizeHint(const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // The list's extent counts the names; the icon and the state come on top.
    const QString state = stateText(unpack(index.data(ResultRole)));
    const int extra = iconSide(option) + Gap + Gap / 2 +
                      option.fontMetrics.horizontalAdvance(separator() + state);
    size.setWidth(size.width() + extra);
    size.setHeight(qMax(size.height(), iconSide(option) + 2));
    return size;
}
