#pragma once

#include "RDWidget.h"

// One square page button of the page navigator.
class RDPagingItemView : public RDWidget
{
    Q_OBJECT
public:
    explicit RDPagingItemView(QWidget* parent = nullptr);

    // Green fill when selected, white with a black border otherwise.
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    void setText(const QString& text);
    QString text() const { return m_text; }

    int page = 0;

    QSize sizeHint() const override;

signals:
    // For any button; clicked() (left button) comes first.
    void clicked(RDPagingItemView* view);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    bool m_selected = false;
};
