#pragma once

#include "ZAVezeDeviceSectionWidget.h"

#include <QVector>

class QLineEdit;
class QPushButton;
class RDLabel;

// The RTP section of the device settings panel: the device's ten multicast destinations
// ("ip:port"), in two columns of five, with "Set" and "Set All" buttons that the panel connects.
class ZAVezeDeviceRtpSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    static constexpr int kFieldCount = 10;

    explicit ZAVezeDeviceRtpSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    // Field i shows the record's entry i; fields past the record's list are emptied, entries
    // past the tenth are not shown.
    void setDevice(const ZAVezeDevice& device) override;
    QSize sizeHint() const override;

    // The ten field texts in order, empty ones included.
    QVector<QString> rtpList() const;

    QLineEdit* field(int index) const { return m_fields.value(index); }
    RDLabel* label(int index) const { return m_labels.value(index); }
    QPushButton* setButton() const { return m_set; }
    QPushButton* setAllButton() const { return m_setAll; }

protected:
    void placeControls(int rowsTop) override;

private:
    RDWidget* m_separator;
    QPushButton* m_set;
    QPushButton* m_setAll;
    QVector<RDLabel*> m_labels;
    QVector<QLineEdit*> m_fields;
};
