#pragma once

#include "ZAVezeDeviceSectionWidget.h"

class QLineEdit;
class QPushButton;
class RDLabel;

// The system section of the device settings panel: the device's web account and password with
// "Set" and "Set All", and the factory reset and restart buttons, each for the shown device and
// for the ticked ones. The panel connects the buttons.
class ZAVezeDeviceSystemSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    // Longest account name and password a device takes.
    static constexpr int kMaxAccountLength = 64;

    explicit ZAVezeDeviceSystemSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    // The username field shows the device's account; the password field is left as it is (the
    // panel never shows a device's password).
    void setDevice(const ZAVezeDevice& device) override;
    QSize sizeHint() const override;

    QLineEdit* usernameField() const { return m_username; }
    QLineEdit* passwordField() const { return m_password; }
    QPushButton* setButton() const { return m_set; }
    QPushButton* setAllButton() const { return m_setAll; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* restoreAllButton() const { return m_restoreAll; }
    QPushButton* rebootButton() const { return m_reboot; }
    QPushButton* rebootAllButton() const { return m_rebootAll; }

protected:
    void placeControls(int rowsTop) override;

private:
    int labelColumnWidth() const;

    RDLabel* m_usernameLabel;
    QLineEdit* m_username;
    RDLabel* m_passwordLabel;
    QLineEdit* m_password;
    QPushButton* m_set;
    QPushButton* m_setAll;
    QPushButton* m_restore;
    QPushButton* m_restoreAll;
    QPushButton* m_reboot;
    QPushButton* m_rebootAll;
};
