#pragma once

#include "RDWidget.h"

#include <QString>

class RDButton;

// The "Play" cell of a row of the bell table: a play/pause mark for the row's bell file. A press
// anywhere in the cell (the mark's press reaches the cell too) asks for the preview of the file.
class RtpInfoBellPlayWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpInfoBellPlayWidget(const QString& bell, QWidget* parent = nullptr);

    QString bell() const { return m_bell; }
    // The mark shows pause while the row's file plays.
    void setPlaying(bool playing);
    bool isPlaying() const;
    RDButton* button() const { return m_button; }

    QSize sizeHint() const override;

signals:
    void requestPlay(const QString& bell);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_bell;
    RDButton* m_button = nullptr;
};
