#pragma once

#include "stats/ResponseFigures.h"

#include <QAccessible>
#include <QIcon>
#include <QStyledItemDelegate>

#include <optional>

class QListWidget;
class QListWidgetItem;

// Draws the Sites list's entries with each service's state at a glance: a
// state icon before the name (up, on error, not yet checked; each its own
// shape, so colour is never the only sign) and the state in words after it
// ("HTTP webhost 80 — 123 ms"). The item's text stays the service name,
// which the rest of the program reads; the state lives in roles of its own,
// and the item's icon stays free for the snooze and acknowledge marks.
class ServiceListDelegate : public QStyledItemDelegate, private QAccessible::ActivationObserver {
    Q_OBJECT
public:
    // The last result, packed in one integer (see pack()): one value to
    // compare and set per result keeps a fast cycle over many services cheap.
    enum Role { ResultRole = Qt::UserRole + 1 };
    enum class State { NotChecked = 0, Up, OnError };

    // Draws list's entries; when a screen reader starts listening, every
    // entry gets its words at once.
    explicit ServiceListDelegate(QListWidget *list);
    ~ServiceListDelegate() override;

    static QIcon stateIcon(State state);
    // "123 ms" (up), "on error" or "on error, 503 in 80 ms"... see the .cpp;
    // "not yet checked" without a result.
    static QString stateText(const std::optional<HistoryPoint> &last);
    // Puts a service's last result (none: not yet checked) on its item.
    // The words for screen readers are kept only while one listens: see
    // updateSpokenText().
    static void setResult(QListWidgetItem *item, const std::optional<HistoryPoint> &last);
    static State stateOf(const QListWidgetItem *item);
    // What follows the name: "123 ms", "on error", "not yet checked", ...
    static QString stateTextOf(const QListWidgetItem *item);
    // Gives the item the words a screen reader says for it (name and state).
    static void updateSpokenText(QListWidgetItem *item);
    static QString separator() { return QStringLiteral(" \u2014 "); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    void accessibilityActiveChanged(bool active) override;
    QListWidget *m_list;
    static int iconSide(const QStyleOptionViewItem &option);
    static qlonglong pack(const std::optional<HistoryPoint> &last);
    static std::optional<HistoryPoint> unpack(const QVariant &packed);
};
