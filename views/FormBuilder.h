#pragma once

#include <QLatin1String>
#include <QRect>
#include <QWidget>

#include <initializer_list>

// Creates a child of a form with its object name and absolute geometry, the
// way every form here lays out its widgets. `leading` go before the parent
// to the widget's constructor.
template <typename Widget, typename... Leading>
Widget* AddWidget(QWidget* parent, const char* objectName, const QRect& geometry,
                  Leading&... leading)
{
    auto* widget = new Widget(leading..., parent);
    widget->setObjectName(QLatin1String(objectName));
    widget->setGeometry(geometry);
    return widget;
}

// Tab moves through the fields in the order given.
inline void SetTabChain(std::initializer_list<QWidget*> fields)
{
    QWidget* previous = nullptr;
    for (QWidget* field : fields) {
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, field);
        }
        previous = field;
    }
}
