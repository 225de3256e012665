#pragma once

#include "RDWidget.h"

#include <QString>

class QPushButton;

// The "Select" cell of a row of the bell table: a "Select" button that makes the row's file the
// channel's bell. A press on the cell around the button does the same.
class RtpInfoBellSelectWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpInfoBellSelectWidget(const QString& bell, QWidget* parent = nullptr);

    QString bell() const { return m_bell; }
    QPushButton* button() const { return m_button; }

    QSize sizeHint() const override;

signals:
    void requestSelect(const QString& bell);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_bell;
    QPushButton* m_button = nullptr;
};
