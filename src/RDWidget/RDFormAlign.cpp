#include "RDFormAlign.h"

#include "RDLabel.h"

#include <algorithm>

int maxWidthOf(std::initializer_list<QWidget*> widgets)
{
    int width = 0;
    for (QWidget* widget : widgets) {
        if (!widget)
            break;
        widget->adjustSize();
        width = std::max(width, widget->width());
    }
    return width;
}

void setLabelsAlignmentOf(int flags, std::initializer_list<RDLabel*> labels)
{
    for (RDLabel* label : labels) {
        if (!label)
            break;
        label->setAlignment(flags);
    }
}
