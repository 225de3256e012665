#pragma once

#include "RDLocalize.h"
#include "RDToast.h"

#include <QStringList>

class QComboBox;
class QLabel;
class RDSwitch;

// The "General" page of the options dialog: the interface language and start at log-on. Each
// choice is stored and applied as soon as it is made.
class RDOptionsGenernalWidget : public RDToast, public RDLocalize
{
    Q_OBJECT
public:
    explicit RDOptionsGenernalWidget(QWidget* parent = nullptr);

    void localize() override;

    QComboBox* languageChoice() const { return m_languageChoice; }
    RDSwitch* startSwitch() const { return m_startSwitch; }
    QLabel* languageCaption() const { return m_languageCaption; }
    QLabel* startCaption() const { return m_startCaption; }

public slots:
    // Stores the language at index and re-texts every window, unless it is the active one.
    void onLanguageChanged(int index);
    // On: the setting first, then the log-on entry; off: the entry first, then the setting.
    void onSwitchChanged(bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* m_languageCaption;
    QComboBox* m_languageChoice;
    QLabel* m_startCaption;
    RDSwitch* m_startSwitch;
    QStringList m_names;
    QStringList m_displayNames;
};
