#pragma once

class QPushButton;

// The "Save" and "Cancel" row of the channel's dialogs: each button at its natural width (at
// least 100) and 30 high with its top at top, centred in its half of the dialog's width.
void placeDialogButtons(QPushButton* save, QPushButton* cancel, int width, int top);
