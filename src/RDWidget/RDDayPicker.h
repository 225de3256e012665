#pragma once

#include "RDWidget.h"

#include <QString>
#include <QStringList>

#include <vector>

// The text form both day pickers read and write: the number of every selected cell followed by
// ";" in cell order, the cell at index i carrying the number i + firstNumber.
namespace RDDayPicker {

template <typename Cell>
QString value(const std::vector<Cell*>& cells, int firstNumber)
{
    QString text;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i]->selected)
            text += QStringLiteral("%1;").arg(static_cast<int>(i) + firstNumber);
    }
    return text;
}

// Deselects every cell, then selects the cells whose numbers the text names; parts that are not
// decimal numbers of a cell are skipped.
template <typename Cell>
void setValue(const std::vector<Cell*>& cells, const QString& text, int firstNumber)
{
    for (Cell* cell : cells) {
        cell->selected = false;
        cell->update();
    }
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int index = part.toInt(&ok, 10) - firstNumber;
        if (ok && index >= 0 && index < static_cast<int>(cells.size())) {
            cells[index]->selected = true;
            cells[index]->update();
        }
    }
}

// The picker's border: green while enabled, grey when not.
inline void applyBorder(RDWidget* picker, bool enabled)
{
    picker->setBorder(3, 2, enabled ? QColor(53, 141, 0, 255) : QColor(160, 160, 160, 255));
}

} // namespace RDDayPicker
