#pragma once

#include "RDWidget.h"

#include <QString>

class ZAVeze;
class ZAVezeDeviceTableWidget;

// The base of the device table's cells: each knows its table, the device tool and its place.
class ZAVezeDeviceItemWidget : public RDWidget
{
    Q_OBJECT
public:
    // table and tool are not owned; the table is also the parent until the cell is set on its
    // index.
    ZAVezeDeviceItemWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    // What the cell shows as text (copied by Ctrl+C); empty here.
    virtual QString text() const;

    int row() const { return m_row; }
    int column() const { return m_column; }

protected:
    // Whether the cell's row still has a stored record in the table.
    bool hasDevice() const;

    ZAVezeDeviceTableWidget* table;
    ZAVeze* tool;

private:
    int m_row;
    int m_column;
};
