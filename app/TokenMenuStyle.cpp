#include "app/TokenMenuStyle.h"

#include <QFontMetrics>
#include <QStyleOptionMenuItem>

#include <algorithm>

CTokenMenuStyle::CTokenMenuStyle(const QString& baseStyleName) : QProxyStyle(baseStyleName) {}

int CTokenMenuStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                               QStyleHintReturn* returnData) const
{
    if (hint == SH_Menu_Scrollable) {
        return 1;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QSize CTokenMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                        const QSize& size, const QWidget* widget) const
{
    // The menu passes the width of an entry's name; the shortcut column comes on top.
    if (type == CT_MenuItem) {
        const QSize bounded(std::min(size.width(), MaxNameWidth), size.height());
        return QProxyStyle::sizeFromContents(type, option, bounded, widget);
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

void CTokenMenuStyle::drawControl(ControlElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuItem && item != nullptr) {
        // The text is the name, then a tab and the shortcut when there is one.
        const qsizetype tab = item->text.indexOf(QLatin1Char('\t'));
        const QString name = item->text.left(tab);
        const QString shown =
            item->fontMetrics.elidedText(name, Qt::ElideRight, MaxNameWidth, Qt::TextShowMnemonic);
        if (shown != name) {
            QStyleOptionMenuItem cut(*item);
            cut.text = tab < 0 ? shown : shown + item->text.mid(tab);
            QProxyStyle::drawControl(element, &cut, painter, widget);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}
