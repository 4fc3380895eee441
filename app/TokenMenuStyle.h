#pragma once

#include <QProxyStyle>

// The look of the Select Token menu, on top of the application's style: the
// menu scrolls within the screen instead of spreading its entries over columns
// that run off a small screen, and a long token name is drawn cut short with
// an ellipsis instead of widening the menu. Only the drawing changes, so a
// rebuild of many entries costs no text measuring, and the entries keep the
// whole names.
class CTokenMenuStyle : public QProxyStyle
{
public:
    // Widest an entry's name is drawn, in pixels.
    static constexpr int MaxNameWidth = 300;

    // On top of the style of that name (QStyle::name()).
    explicit CTokenMenuStyle(const QString& baseStyleName);

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};
