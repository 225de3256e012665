#pragma once

#include "ZAVezeDeviceSectionWidget.h"
#include "ZAVezeIpInfo.h"

#include <QVector>

class QComboBox;
class QLineEdit;
class QPushButton;
class RDLabel;
class ZAVezeDevice;

// The network section of the device settings panel: the address mode and the five address
// fields of one device, with "Set" and "Set All" buttons that the panel connects.
class ZAVezeDeviceIPSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    explicit ZAVezeDeviceIPSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    // Fills the section from a device record without emitting anything that would send.
    void setDevice(const ZAVezeDevice& device) override;
    // mode is the untranslated item data of the mode list ("DHCP" or "Static"); the rest are
    // the field texts as typed.
    ZAVezeIpInfo ipInfo() const;
    // The first message that refuses the typed settings in "Static" mode, in the order ip,
    // netmask, gateway, then the name servers when given; empty when they can be sent.
    // Only a complete dotted address passes, so "192.168.1." is refused like an empty field.
    QString missingInput() const;

    QSize sizeHint() const override;

    QComboBox* modeList() const { return m_mode; }
    QLineEdit* ipField() const { return m_fields[Ip]; }
    QLineEdit* netmaskField() const { return m_fields[Netmask]; }
    QLineEdit* gatewayField() const { return m_fields[Gateway]; }
    QLineEdit* dns1Field() const { return m_fields[Dns1]; }
    QLineEdit* dns2Field() const { return m_fields[Dns2]; }
    QPushButton* setButton() const { return m_set; }
    QPushButton* setAllButton() const { return m_setAll; }

public slots:
    void onModeIndexChanged(int index);

protected:
    void placeControls(int rowsTop) override;

private:
    enum Field { Ip, Netmask, Gateway, Dns1, Dns2, FieldCount };
    enum Mode { Dhcp = 0, Static = 1 };

    void updateModeFields();
    int labelColumnWidth() const;

    RDLabel* m_modeLabel;
    QComboBox* m_mode;
    QVector<RDLabel*> m_labels;
    QVector<QLineEdit*> m_fields;
    QPushButton* m_set;
    QPushButton* m_setAll;
};
