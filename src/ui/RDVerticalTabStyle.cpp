#include "RDVerticalTabStyle.h"

#include "RDTheme.h"

#include <QPainter>
#include <QStyleOptionTab>

void RDVerticalTabStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const
{
    if (element == CE_TabBarTab) {
        // Asks this style again for the shape (not drawn) and the label.
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    if (element != CE_TabBarTabLabel)
        return;
    const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
    if (!tab)
        return;
    const bool selected = tab->state & State_Selected;
    if (selected) {
        const QColor green = RDTheme::green();
        painter->save();
        painter->setPen(green);
        painter->setBrush(green);
        painter->drawRect(tab->rect.adjusted(6, 6, -6, -6));
        painter->restore();
    }
    painter->save();
    painter->setPen(selected ? QColor(248, 248, 248) : QColor(32, 32, 32));
    // A caption wider than the fixed cell ("App Connect" in a large font) wraps instead of
    // running over the edges.
    painter->drawText(tab->rect.adjusted(2, 0, -2, 0), Qt::AlignCenter | Qt::TextWordWrap, tab->text);
    painter->restore();
}

QSize RDVerticalTabStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                           const QWidget* widget) const
{
    if (type == CT_TabBarTab)
        return QSize(kTabWidth, kTabHeight);
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}
