#pragma once

#include "RDDialog.h"
#include "RDLocalize.h"

#include <QTimer>

class RDLabel;
class RDPixmapWidget;

// A large QR code of a connection code with its text under it, for a phone app to scan. The
// symbol is redrawn a second after the last resize, not on every step of a drag.
class RDQRCodeDialog : public RDDialog, public RDLocalize
{
    Q_OBJECT
public:
    static constexpr int kRedrawDelayMs = 1000;

    // text: what the symbol carries; caption: the text shown under it.
    RDQRCodeDialog(const QString& text, const QString& caption, QWidget* parent = nullptr);
    ~RDQRCodeDialog() override;

    // Places the caption band and the image for the current size (the caller runs it once
    // before the first show).
    void relayout();

    QString text() const { return m_text; }
    RDPixmapWidget* image() const { return m_image; }
    RDLabel* captionLabel() const { return m_captionLabel; }
    const QTimer& redrawTimer() const { return m_redrawTimer; }
    // How often the symbol was drawn.
    int drawCount() const { return m_drawCount; }

public slots:
    void updateQRCodeImage();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_text;
    QString m_caption;
    RDPixmapWidget* m_image;
    RDLabel* m_captionLabel;
    QTimer m_redrawTimer;
    int m_drawCount = 0;
};
