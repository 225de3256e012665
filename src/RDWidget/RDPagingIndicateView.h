#pragma once

#include "RDLocalize.h"
#include "RDWidget.h"

#include <vector>

class RDPagingInfoView;
class RDPagingItemView;

// The page navigator: a centred row of up to eleven page buttons around the current page and the
// info strip with "Go to". Pages are counted from 0 in signals and calls, from 1 on screen.
// currentPageChanged is emitted only for the operator's picks.
class RDPagingIndicateView : public RDWidget, public RDLocalize
{
    Q_OBJECT
public:
    static constexpr int kMaxButtons = 11;

    explicit RDPagingIndicateView(QWidget* parent = nullptr);

    // Pages for itemCount items of pageSize each, rounded up; 0 pages for a page size <= 0.
    void setTotal(int itemCount, int pageSize);
    // The current page is kept when it still exists, else moved to the last page (silently).
    void setPageCount(int count);
    void setCurrentPage(int page);
    int currentPage() const { return m_currentPage; }
    int pageCount() const { return m_pageCount; }
    int firstPage() const { return m_firstPage; }
    const std::vector<RDPagingItemView*>& items() const { return m_items; }
    RDPagingInfoView* infoView() const { return m_infoView; }

    void localize() override;
    QSize sizeHint() const override;

signals:
    void currentPageChanged(int page);

public slots:
    void onClickItemView(RDPagingItemView* view);
    void onGotoPage(int page);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    static constexpr int kButtonSide = 30;
    static constexpr int kButtonPitch = 35;

    void rebuildItems();
    void updateItems();
    void refresh();
    void relayout();

    int m_firstPage = 0;
    int m_currentPage = 0;
    int m_pageCount = 0;
    RDPagingInfoView* m_infoView;
    std::vector<RDPagingItemView*> m_items;
};
