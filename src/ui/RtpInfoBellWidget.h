#pragma once

#include "RDLocalize.h"
#include "RDWidget.h"

#include <QMediaPlayer>
#include <QString>
#include <QStringList>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class RDButton;
class RDLabel;

// The "Bell Ringing" tab of the channel form: the sound file a channel plays as a bell and how
// it repeats (once, for a number of seconds, a number of times), with a table of the bells of the
// "sounds" folder that the operator can listen to on this PC before choosing one. Every change
// is reported by bellChanged(); the form reads the values back and switches the controls off
// while the channel runs. The preview plays locally and has nothing to do with the channel's
// output. GUI thread only.
class RtpInfoBellWidget : public RDWidget, public RDLocalize
{
    Q_OBJECT
public:
    // The repeat types, as the channel record stores them and the combo's item data holds them.
    enum LoopType { kOnce = 0, kDuration = 1, kTimes = 2 };
    // The editors' ranges: a day of ringing, and a count no bell schedule comes near. The
    // channel plays a bell once for 0.
    static constexpr int kMaxDuration = 86400;
    static constexpr int kMaxLoops = 9999;

    explicit RtpInfoBellWidget(QWidget* parent = nullptr);
    // Stops a running preview.
    ~RtpInfoBellWidget() override;

    // Fills the tab from a channel's values without reporting a change; a loop type other than 1
    // or 2 shows "Once Only".
    void setBell(const QString& path, int loopType, int duration, int loops);
    QString bellPath() const;
    // The item data of the repeat combo's current row.
    int loopType() const;
    // The editors as decimal integers within their ranges; empty or not a number reads as 0.
    int duration() const;
    int loops() const;
    // Every control of the tab, the table included (off while the channel runs).
    void setEditable(bool editable);

    // Shows the duration editor and "Seconds" for "Duration", the times editor for "Times",
    // neither for "Once Only".
    void updateRepeatFields();
    void localize() override;

    // The bells offered: the "*.mp3" files of folder, sorted by name, as full paths.
    static QStringList bellFiles(const QString& folder);
    // "<application directory>/sounds".
    static QString soundsFolder();

    // The path given to the preview last (empty before the first).
    QString previewedBell() const { return m_previewedBell; }
    bool isPreviewPlaying() const;

    RDButton* previewButton() const { return m_previewButton; }
    QLineEdit* fileEdit() const { return m_fileEdit; }
    QPushButton* selectButton() const { return m_selectButton; }
    QComboBox* repeatCombo() const { return m_repeatCombo; }
    QLineEdit* durationEdit() const { return m_durationEdit; }
    RDLabel* secondsLabel() const { return m_secondsLabel; }
    QLineEdit* timesEdit() const { return m_timesEdit; }
    QTableWidget* table() const { return m_table; }

signals:
    void bellChanged();

public slots:
    void onClickPlayBellButton();
    void onClickSelectBellButton(bool checked);
    void repeatIndexChanged(int index);
    void onBellEditFinished();
    void onDurationEditFinished();
    void onTimesEditFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onPlayerStateChanged(QMediaPlayer::State state);
    void onDurationReady(const QString& path, double seconds);

private:
    enum Column { kPlayColumn = 0, kNameColumn = 1, kDurationColumn = 2, kSelectColumn = 3 };

    void createChildren();
    void layoutChildren();
    void fillTable(const QStringList& bells);
    // Plays path, or stops when path is already playing.
    void preview(const QString& path);
    // Marks the rows (and the preview button) that play path; empty clears every mark.
    void updatePlayingBell(const QString& path);
    // Puts a bell into the file edit as the operator's choice.
    void chooseBell(const QString& path);
    void reportChange();

    RDButton* m_previewButton = nullptr;
    RDLabel* m_titleLabel = nullptr;
    QLineEdit* m_fileEdit = nullptr;
    QPushButton* m_selectButton = nullptr;
    RDLabel* m_repeatLabel = nullptr;
    QComboBox* m_repeatCombo = nullptr;
    QLineEdit* m_durationEdit = nullptr;
    RDLabel* m_secondsLabel = nullptr;
    QLineEdit* m_timesEdit = nullptr;
    RDLabel* m_demoLabel = nullptr;
    QTableWidget* m_table = nullptr;

    QString m_previewedBell;
    QMediaPlayer m_player;
    bool m_filling = false;
};
