#pragma once

#include "RDWidget.h"

class QLineEdit;
class RDLabel;

// The strip after the page buttons: "%1 / %2", "Go to", an edit, "Page" and "Go". A typed page
// is counted from 1; gotoPage carries it counted from 0.
class RDPagingInfoView : public RDWidget
{
    Q_OBJECT
public:
    explicit RDPagingInfoView(QWidget* parent = nullptr);

    void setPageInfo(int current, int count);
    void retranslate();

    RDLabel* pageInfoLabel() const { return m_pageInfoLabel; }
    QLineEdit* pageEdit() const { return m_pageEdit; }
    RDLabel* goButton() const { return m_goButton; }

    QSize sizeHint() const override;

signals:
    void gotoPage(int page);

public slots:
    void onClickGotoPage();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    RDLabel* m_pageInfoLabel;
    RDLabel* m_gotoLabel;
    QLineEdit* m_pageEdit;
    RDLabel* m_pageLabel;
    RDLabel* m_goButton;
};
