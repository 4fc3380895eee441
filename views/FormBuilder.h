#pragma once

#include <QLatin1String>
#include <QRect>
#include <QWidget>

// Creates a child of a form with its object name and absolute geometry, the
// way every form here lays out its widgets.
template <typename Widget>
Widget* AddWidget(QWidget* parent, const char* objectName, const QRect& geometry)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QLatin1String(objectName));
    widget->setGeometry(geometry);
    return widget;
}
