#pragma once

class QListWidget;

// Sets the list's horizontal scroll extent to the pixel width of its widest
// entry, in the list's own font, plus 5, so long names can be scrolled into
// view. Returns the extent.
int UpdateHorizontalExtent(QListWidget *list);
