#include "views/ViewHost.h"

#include <QWidget>

CViewHost* ViewHostOf(const QWidget* view)
{
    return view != nullptr ? dynamic_cast<CViewHost*>(view->parentWidget()) : nullptr;
}
