#pragma once

#include "RDWidget.h"
#include "RtpInfo.h"

#include <QMenu>
#include <QModelIndex>
#include <QPoint>
#include <QPointer>
#include <QVector>

class QListWidget;
class QListWidgetItem;

class RDButton;
class RDLabel;
class RtpInfoItemWidget;

// The left column of the channel editor: a title with a save and an add button over one row per
// stored channel. One row at most carries the selection mark. Every operator action becomes a
// request signal carrying a copy of the row's record; the list never calls the channel manager
// itself, the editor answers and hands it fresh records. Rows of records that were never stored
// (id 0 or less) raise nothing. GUI thread only.
class RtpInfoListWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpInfoListWidget(QWidget* parent = nullptr);
    ~RtpInfoListWidget() override;

    // Rebuilds every row in the given order; the marked channel stays marked by id, else the
    // first row is marked.
    void setRtpInfos(const QVector<RtpInfo>& infos);
    // Marks the row of the record's id and clears every other.
    void selectRtpInfo(const RtpInfo& info);
    // 0 with the marked row's record in out, or -1 (out untouched) when no row is marked.
    int selectedRtpInfo(RtpInfo& out) const;

    RDLabel* titleLabel() const { return m_titleLabel; }
    RDButton* saveButton() const { return m_saveButton; }
    RDButton* addButton() const { return m_addButton; }
    QListWidget* listWidget() const { return m_list; }
    QMenu* menu() const { return m_menu; }
    int rowCount() const;
    // The row widget of row index (null past the end).
    RtpInfoItemWidget* itemWidget(int index) const;

signals:
    void requestAddRtpInfo();
    void requestSaveRtpInfo(bool update, bool schedule, bool sip);
    void requestStartRtpInfo(RtpInfo info);
    void requestStopRtpInfo(RtpInfo info);
    void requestTopRtpInfo(RtpInfo info);
    void requestDeleteRtpInfo(RtpInfo info);
    void clickRtpInfo(RtpInfo info);

public slots:
    void onItemClicked(QListWidgetItem* item);
    void onListWidgetContextMenu(QPoint pos);
    void onClickItemStartButton();
    void onClickTopAction(bool checked);
    void onClickStartAction(bool checked);
    void onClickDeleteAction(bool checked);
    void onClickAddAction(bool checked);
    void onClickSaveButton();
    void onClickAddButton();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void addItemWidget(QListWidgetItem* item, const RtpInfo& info);
    void showContextMenu(const QPoint& pos, const QModelIndex& index);
    // The row widget of the channel an action of the menu was made for; null once that channel
    // has left the list (a refresh may rebuild it while the menu is open).
    RtpInfoItemWidget* actionRow(const QObject* action) const;
    // Start or stop, by the record's running state.
    void requestStartOrStop(const RtpInfo& info);

    RDLabel* m_titleLabel;
    RDButton* m_saveButton;
    RDButton* m_addButton;
    QListWidget* m_list;
    QPointer<QMenu> m_menu;
};
