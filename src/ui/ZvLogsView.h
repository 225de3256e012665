#pragma once

#include "RDWidget.h"
#include "ZvLog.h"

#include <QString>
#include <QVector>

#include <memory>

class QTableWidget;
class RDPagingIndicateView;
class ZvDBLog;

// The rows of the action log that match the filters, 50 a page, newest first, over a page
// navigator. The queries run on the GUI thread through the view's own log connection.
class ZvLogsView : public RDWidget
{
    Q_OBJECT
public:
    static constexpr int kPageSize = 50;

    explicit ZvLogsView(QWidget* parent = nullptr);
    ~ZvLogsView() override;

    // Empty texts filter nothing; takes effect with the next reload.
    void setFilter(const QString& address, const QString& start, const QString& end);
    // Counts the matches and shows the first page (the navigator back on it).
    void reload();

    // The texts of the columns, translated; empty for an unknown value.
    static QString actionName(int action);
    static QString sourceName(int source);
    static QString triggerName(int action, int trigger);
    static QString codecName(int codec);

    QTableWidget* table() const { return m_table; }
    RDPagingIndicateView* navigator() const { return m_navigator; }
    int total() const { return m_total; }

public slots:
    void onGotoPage(int page);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showRows(const QVector<ZvLog>& rows);

    QTableWidget* m_table;
    RDPagingIndicateView* m_navigator;
    std::unique_ptr<ZvDBLog> m_log;
    QString m_address;
    QString m_start;
    QString m_end;
    int m_total = 0;
};
