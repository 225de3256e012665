#pragma once

#include <QByteArray>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTemporaryFile>

#include <memory>

// A private X server (Xvfb) for running the whole program with real windows, and the user's
// hands and eyes on it: xdotool moves the pointer, clicks and types, ffmpeg's x11grab takes
// pictures. There is no window manager, so top-level windows have no frames and a window's X
// geometry is its client area. The server goes away with this object, and with the test
// process should that die first.
class XvfbDisplay
{
public:
    struct Window
    {
        QString id;
        QRect geometry;
    };

    XvfbDisplay() = default;
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // Starts the server on a free display number; false (see errorText) when it did not come up.
    bool start(const QSize& screen, int dpi);
    QString errorText() const { return m_error; }
    // ":<number>"; start() also sets DISPLAY to it in this process's environment, for the X
    // clients the test runs.
    QString name() const { return m_name; }

    // The mapped top-level windows of a process, in the server's stacking order.
    QList<Window> windows(qint64 pid) const;

    // Moves the pointer to a point of the screen and clicks the left button there, then moves it
    // to the top left corner (0, 0); with shift the Shift key is held during the click.
    bool click(const QPoint& at, bool shift = false) const;
    // Presses a key combination (xdotool's names, e.g. "ctrl+c") in the window with the focus.
    bool key(const QString& combination) const;

    // The pixels of a screen rectangle as PNG bytes (no pointer drawn); empty on failure.
    QByteArray grab(const QRect& area) const;
    // Waits until the rectangle differs from before (when before is not empty) and then shows the
    // same picture twice in a row: a window that has finished painting. The picture, or empty
    // after timeoutMs.
    QByteArray grabSettled(const QRect& area, const QByteArray& before = QByteArray(), int timeoutMs = 20000) const;

    // The text of the clipboard, asked for as any X client asks the window that owns it.
    QString clipboardText() const;
    // The font a Qt program starts with on this display (the desktop's, here Qt's own default);
    // false when it could not be learnt.
    bool applicationFont(QFont* font) const;

private:
    // What the xvfb_query program prints on this display; empty when it failed.
    QString query(const QString& what) const;

    QTemporaryFile m_log;
    std::unique_ptr<QProcess> m_server;
    QString m_name;
    QString m_error;
    QByteArray m_previousDisplay;
};
