#pragma once

#include "RDWidget.h"

class RDButton;
class RDLabel;
class RDSlider;
class RDVolumeLineEdit;
class RDVolumeValidator;

// The volume control of the device panels: a mute button, a slider and the value, which a
// double-click turns into an editor. Mute and slider changes by the operator emit valueChanged;
// typed values and setValue do not (the panels read value() when they apply).
class RDVolumeSlider : public RDWidget
{
    Q_OBJECT
public:
    explicit RDVolumeSlider(QWidget* parent = nullptr);

    int value() const;
    void setValue(int value);

    RDSlider* slider() const { return m_slider; }
    RDButton* muteButton() const { return m_muteButton; }
    RDLabel* valueLabel() const { return m_valueLabel; }
    RDVolumeLineEdit* valueEdit() const { return m_valueEdit; }

signals:
    void valueChanged(int value);

public slots:
    void onClickButton();
    void onValueChanged(int value);
    void onDoubleClickLabel();
    void onEditFinished();
    void onEditInterrupt();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showValue(int value);
    void closeEditor();

    RDLabel* m_valueLabel;
    RDVolumeLineEdit* m_valueEdit;
    RDVolumeValidator* m_validator;
    RDSlider* m_slider;
    RDButton* m_muteButton;
    int m_savedValue = 0;
};
