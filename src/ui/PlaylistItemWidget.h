#pragma once

#include "RDWidget.h"

#include <QString>

class RDLabel;

// One row of the playlist (and its column header): the file's name and playing time. A file that
// is gone keeps its row, greyed, with "--:--": the operator sees what went missing, and the row
// numbers stay those of the channel's playlist.
class PlaylistItemWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit PlaylistItemWidget(QWidget* parent = nullptr);

    // Shows the path's last component and its time: at once when the duration cache knows it,
    // else when the cache reports it (setDuration); nothing for a file that does not exist.
    void setPath(const QString& path);
    QString path() const { return m_path; }
    bool isMissing() const { return m_missing; }
    // The time text of seconds (formatTime).
    void setDuration(double seconds);
    // Red while set; grey for a missing file, black otherwise.
    void setPlaying(bool playing);
    bool isPlaying() const { return m_playing; }
    // The header's texts.
    void setTexts(const QString& name, const QString& duration);

    RDLabel* nameLabel() const { return m_nameLabel; }
    RDLabel* durationLabel() const { return m_durationLabel; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateColors();
    void relayout();

    RDLabel* m_nameLabel;
    RDLabel* m_durationLabel;
    bool m_playing = false;
    bool m_missing = false;
    QString m_path;
};
