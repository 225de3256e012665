#include "RDPagingIndicateView.h"

#include "RDPagingInfoView.h"
#include "RDPagingItemView.h"

#include <algorithm>

RDPagingIndicateView::RDPagingIndicateView(QWidget* parent)
    : RDWidget(parent)
    , m_infoView(new RDPagingInfoView(this))
{
    // The button pointer travels through queued connections.
    qRegisterMetaType<RDPagingItemView*>("RDPagingItemView*");
    connect(m_infoView, &RDPagingInfoView::gotoPage, this, &RDPagingIndicateView::onGotoPage,
            Qt::QueuedConnection);
    m_infoView->setVisible(false);
}

void RDPagingIndicateView::setTotal(int itemCount, int pageSize)
{
    if (pageSize <= 0 || itemCount <= 0) {
        setPageCount(0);
        return;
    }
    setPageCount(itemCount / pageSize + (itemCount % pageSize != 0 ? 1 : 0));
}

void RDPagingIndicateView::setPageCount(int count)
{
    m_pageCount = std::max(0, count);
    // A page that no longer exists would read "9 / 2".
    m_currentPage = std::max(0, std::min(m_currentPage, m_pageCount - 1));
    rebuildItems();
    m_infoView->setVisible(m_pageCount > 1);
    refresh();
}

void RDPagingIndicateView::setCurrentPage(int page)
{
    m_currentPage = page;
    refresh();
}

void RDPagingIndicateView::onClickItemView(RDPagingItemView* view)
{
    m_currentPage = view->page;
    refresh();
    emit currentPageChanged(m_currentPage);
}

void RDPagingIndicateView::onGotoPage(int page)
{
    if (page < 0 || page >= m_pageCount)
        return;
    setCurrentPage(page);
    emit currentPageChanged(page);
}

void RDPagingIndicateView::localize()
{
    m_infoView->retranslate();
    relayout();
}

QSize RDPagingIndicateView::sizeHint() const
{
    const int buttons = std::min(m_pageCount, static_cast<int>(m_items.size()));
    return QSize(m_infoView->sizeHint().width() + buttons * kButtonPitch, kButtonSide);
}

void RDPagingIndicateView::rebuildItems()
{
    for (RDPagingItemView* item : m_items)
        delete item;
    m_items.clear();
    const int n = std::min(m_pageCount, kMaxButtons);
    for (int i = 0; i < n; ++i) {
        RDPagingItemView* item = new RDPagingItemView(this);
        item->setSelected(false);
        item->setVisible(true);
        connect(item, qOverload<RDPagingItemView*>(&RDPagingItemView::clicked), this,
                &RDPagingIndicateView::onClickItemView, Qt::QueuedConnection);
        m_items.push_back(item);
    }
}

void RDPagingIndicateView::updateItems()
{
    const int n = static_cast<int>(m_items.size());
    const int half = (n - 1) / 2;
    m_firstPage = std::max(0, std::min(m_currentPage - half, m_pageCount - n));
    for (int i = 0; i < n; ++i) {
        RDPagingItemView* item = m_items[i];
        item->page = m_firstPage + i;
        item->setText(QString::number(m_firstPage + i + 1));
        item->setSelected(item->page == m_currentPage);
    }
}

void RDPagingIndicateView::refresh()
{
    updateItems();
    m_infoView->setPageInfo(m_currentPage, m_pageCount);
    relayout();
}

void RDPagingIndicateView::relayout()
{
    const int n = static_cast<int>(m_items.size());
    const QSize info = m_infoView->sizeHint();
    const int y = (height() - kButtonSide) / 2;
    int x = (width() - n * kButtonPitch - info.width()) / 2;
    for (RDPagingItemView* item : m_items) {
        item->setGeometry(x, y, kButtonSide, kButtonSide);
        x += kButtonPitch;
    }
    m_infoView->setGeometry(x, y, info.width(), kButtonSide);
}

void RDPagingIndicateView::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}
