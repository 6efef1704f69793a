#pragma once

#include "stats/ResponseFigures.h"

#include <QIcon>
#include <QStyledItemDelegate>

#include <optional>

class QListWidgetItem;

// Draws the Sites list's entries with each service's state at a glance: a
// state icon before the name (up, on error, not yet checked; each its own
// shape, so colour is never the only sign) and the state in words after it
// ("HTTP webhost 80 — 123 ms"). The item's text stays the service name,
// which the rest of the program reads; the state lives in roles of its own,
// and the item's icon stays free for the snooze and acknowledge marks.
class ServiceListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum Role {
        StateRole = Qt::UserRole + 1, // State as int
        StateTextRole,                // what follows the name: "123 ms", "on error", ...
    };
    enum class State { NotChecked = 0, Up, OnError };

    using QStyledItemDelegate::QStyledItemDelegate;

    static QIcon stateIcon(State state);
    // "123 ms" (up), "on error" or "on error, 503 in 80 ms"... see the .cpp;
    // "not yet checked" without a result.
    static QString stateText(const std::optional<HistoryPoint> &last);
    // Puts a service's last result (none: not yet checked) on its item.
    static void setResult(QListWidgetItem *item, const std::optional<HistoryPoint> &last);
    static State stateOf(const QListWidgetItem *item);
    static QString separator() { return QStringLiteral(" \u2014 "); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    static int iconSide(const QStyleOptionViewItem &option);
};
