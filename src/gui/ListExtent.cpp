#include "ListExtent.h"

#include <QFontMetrics>
#include <QListWidget>

int UpdateHorizontalExtent(QListWidget *list)
{
    const QFontMetrics metrics(list->font());
    int widest = 0;
    for (int i = 0; i < list->count(); ++i)
        widest = qMax(widest, metrics.horizontalAdvance(list->item(i)->text()));
    const int extent = widest + 5;
    // The view's scroll range follows the items' size hints.
    const int height = metrics.height() + 2;
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setSizeHint(QSize(extent, height));
    list->setProperty("horizontalExtent", extent);
    return extent;
}
