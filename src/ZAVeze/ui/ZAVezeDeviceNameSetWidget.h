#pragma once

#include "ZAVezeDeviceSectionWidget.h"

class QLineEdit;
class QPushButton;
class RDLabel;

// The name section of the device settings panel: the device's name, with "Set" and "Set All"
// buttons that the panel connects.
class ZAVezeDeviceNameSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    // Longest name a device takes.
    static constexpr int kMaxNameLength = 128;

    explicit ZAVezeDeviceNameSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    void setDevice(const ZAVezeDevice& device) override;
    QSize sizeHint() const override;

    QLineEdit* nameField() const { return m_name; }
    QPushButton* setButton() const { return m_set; }
    QPushButton* setAllButton() const { return m_setAll; }

protected:
    void placeControls(int rowsTop) override;

private:
    RDLabel* m_nameLabel;
    QLineEdit* m_name;
    QPushButton* m_set;
    QPushButton* m_setAll;
};
