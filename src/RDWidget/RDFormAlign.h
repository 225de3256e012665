#pragma once

#include <initializer_list>

class QWidget;
class RDLabel;

// Helpers of hand-placed forms: the width of a left column and the alignment of its labels.
// Each walks its list and stops at the first null entry.

// Adjusts every widget to its size and returns the largest width (0 for an empty list or a null
// first widget).
int maxWidthOf(std::initializer_list<QWidget*> widgets);
// Sets the text alignment flags of every label (callers pass 129: left, vertically centred).
void setLabelsAlignmentOf(int flags, std::initializer_list<RDLabel*> labels);

template <typename... Widgets>
int maxWidth(Widgets*... widgets)
{
    return maxWidthOf({static_cast<QWidget*>(widgets)...});
}

template <typename... Labels>
void setLabelsAlignment(int flags, Labels*... labels)
{
    setLabelsAlignmentOf(flags, {static_cast<RDLabel*>(labels)...});
}
