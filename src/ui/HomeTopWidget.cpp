#include "HomeTopWidget.h"

#include "RDButton.h"
#include "RDPixmapCache.h"
#include "RDTheme.h"
#include "RDTr.h"

HomeTopWidget::HomeTopWidget(QWidget* parent)
    : RDWidget(parent)
    , m_searchButton(new RDButton(this))
    , m_rtpButton(new RDButton(this))
    , m_settingsButton(new RDButton(this))
{
    setBackgroundColor(RDTheme::white());
    setBorder(0, 1, RDTheme::green());
    const struct
    {
        RDButton* button;
        const char* icon;
    } buttons[] = {{m_searchButton, ":/search.png"}, {m_rtpButton, ":/multicast.png"}, {m_settingsButton, ":/options.png"}};
    QColor hover = RDTheme::green();
    hover.setAlpha(128);
    for (const auto& entry : buttons) {
        entry.button->setPixmap(cachedPixmap(QLatin1String(entry.icon), 20));
        entry.button->setBorder(0, 1, RDTheme::green());
        entry.button->setBackgroundColors(QColor(0, 0, 0, 0), hover);
    }
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    localize();
}

void HomeTopWidget::localize()
{
    m_searchButton->setText(rdTr("Scan Devices"));
    m_rtpButton->setText(rdTr("RTP Multicast"));
    m_settingsButton->setText(rdTr("Options"));
    relayout();
}

void HomeTopWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void HomeTopWidget::relayout()
{
    const QMargins m = contentsMargins();
    const int h = std::max(0, height() - m.top() - m.bottom());
    int x = m.left();
    for (RDButton* button : {m_searchButton, m_rtpButton, m_settingsButton}) {
        const int w = button->sizeHint().width();
        button->setGeometry(x, m.top(), w, h);
        // The next starts on this one's last column, so the borders between them are single.
        x = button->geometry().right();
    }
}
