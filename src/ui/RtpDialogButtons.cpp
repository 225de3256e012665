#include "RtpDialogButtons.h"

#include <QPushButton>

#include <algorithm>

namespace {

constexpr int kMinWidth = 100;
constexpr int kHeight = 30;

void placeCentred(QPushButton* button, int left, int span, int top)
{
    const int w = std::max(kMinWidth, button->sizeHint().width());
    button->setGeometry(left + (span - w) / 2, top, w, kHeight);
}

} // namespace

void placeDialogButtons(QPushButton* save, QPushButton* cancel, int width, int top)
{
    placeCentred(save, 0, width / 2, top);
    placeCentred(cancel, width / 2, width - width / 2, top);
}
