#pragma once

#include "RDWidget.h"

#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>

class PlaylistItemWidget;
class QListWidget;
class QListWidgetItem;
class RDLabel;
class RDSlider;

// The "Audio Medias" tab: a channel's playlist as rows of file name and playing time, a last row
// that adds files, a context menu to add, move to the top, delete and reveal files, a double click
// that switches the playing file, and the position of the playing file with a slider to seek in
// it. It does not touch the channel record: the form fills it and reads the playlist back, and
// what the operator did comes out through the three signals.
//
// Row i is entry i of the channel's playlist, files that have gone missing included (they keep a
// greyed row), so one index serves the highlight, a double click and the channel's own count.
// GUI thread only.
class RtpInfoPlaylistWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpInfoPlaylistWidget(QWidget* parent = nullptr);
    ~RtpInfoPlaylistWidget() override;

    // Rebuilds the rows and follows the playing file (index -1: none) from position seconds at
    // the monotonic time getTime.
    void setPlaylist(const QVector<QString>& paths, int playingIndex, double playingPosition,
                     double playingDuration, double getTime);
    // Non-zero while the channel runs: no menu then, and Add is refused.
    void setRunning(int running);
    // The path of every file row, in row order.
    QVector<QString> playlist() const;
    void retranslate();

    // "mm:ss" of seconds, "--:--" for a negative value.
    static QString formatTime(double seconds);

    // The header, the list (its last row adds files), and the position widgets.
    PlaylistItemWidget* header() const { return m_header; }
    QListWidget* listWidget() const { return m_list; }
    RDLabel* positionLabel() const { return m_positionLabel; }
    RDSlider* slider() const { return m_slider; }
    QMenu* menu() const { return m_menu; }
    const QTimer& timer() const { return m_timer; }
    // The row widget of file row (null for the add row and past the end).
    PlaylistItemWidget* rowWidget(int row) const;
    int fileRowCount() const;

signals:
    void playlistChanged();
    void requestChangeFile(int index);
    void requestSeekFile(int index, double progress);

public slots:
    void onClickItem(QListWidgetItem* item);
    void onDoubleClickItem(QListWidgetItem* item);
    void onListWidgetCustomMenu(QPoint pos);
    void onSliderValueChanged(int value);
    void invokePlaying();
    void onClickAddAction(bool checked);
    void onClickTopAction(bool checked);
    void onClickOpenAction(bool checked);
    void onClickDeleteAction(bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onDurationReady(const QString& path, double seconds);

private:
    void showContextMenu(const QPoint& pos);
    void closeMenu();
    // The file row an action of the menu was made for, while it still holds the same path; -1
    // once the list was rebuilt or changed under the menu.
    int actionRow(const QObject* action) const;
    QListWidgetItem* appendFileRow(int row, const QString& path);
    void appendAddRow();
    void removeFileRow(int row);
    void showPosition(double position);
    void relayout();

    PlaylistItemWidget* m_header;
    QListWidget* m_list;
    RDLabel* m_positionLabel;
    RDSlider* m_slider;
    int m_running = 0;
    int m_playingIndex = -1;
    double m_getTime = 0.0;
    double m_playingPosition = 0.0;
    double m_playingDuration = 0.0;
    QTimer m_timer;
    QPointer<QMenu> m_menu;
    int m_menuRow = -1;
    // Bumped by every change of the rows; a menu action carries the one it was made under.
    quint64 m_generation = 0;
};
