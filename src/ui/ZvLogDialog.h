#pragma once

#include "RtpInfo.h"

#include <QDialog>
#include <QVector>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class ZvLogsView;

// The action-log browser: a channel address and a date range filter the rows of ZvLogsView.
class ZvLogDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ZvLogDialog(QWidget* parent = nullptr);

    // The address choice: "All" (no filter), then every channel's address in the given order.
    void setRtpInfos(const QVector<RtpInfo>& infos);

    // The filter texts a search would use: the address, the earlier date at 00:00:00 and the
    // later one at 23:59:59 ("yyyy-MM-dd HH:mm:ss"; empty for an invalid date).
    static void rangeTexts(QDate start, QDate end, QString& startText, QString& endText);

    QComboBox* addressChoice() const { return m_addressChoice; }
    QDateEdit* startEdit() const { return m_startEdit; }
    QDateEdit* endEdit() const { return m_endEdit; }
    QPushButton* searchButton() const { return m_searchButton; }
    ZvLogsView* view() const { return m_view; }

public slots:
    void onClickSearch(bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();

    QVector<RtpInfo> m_infos;
    QLabel* m_addressLabel;
    QComboBox* m_addressChoice;
    QLabel* m_startLabel;
    QDateEdit* m_startEdit;
    QLabel* m_endLabel;
    QDateEdit* m_endEdit;
    QPushButton* m_searchButton;
    ZvLogsView* m_view;
};
