#pragma once

#include "ZAVezeDeviceSectionWidget.h"
#include "ZAVezeSipInfo.h"

#include <QVector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QValidator;
class RDLabel;

// The SIP section of the device settings panel: one of the device's two SIP lines, chosen with
// the account list, in two columns of fields, with "Set" and "Set All" buttons that the panel
// connects. The section keeps its own copy of both lines: switching the account refills the
// fields from that copy, so what was typed for the other account is dropped.
class ZAVezeDeviceSipSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    enum Field {
        Username,
        AuthId,
        Password,
        DisplayName,
        ServerHost,
        ServerPort,
        ExpireTime,
        ProxyServer,
        ProxyPort,
        FieldCount
    };

    explicit ZAVezeDeviceSipSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    // Keeps the record's two lines (an empty line where it has fewer), shows the first account
    // and fills the fields from its line.
    void setDevice(const ZAVezeDevice& device) override;
    QSize sizeHint() const override;

    // Fills the fields from a line and applies the proxy rule.
    void showSipLine(const ZAVezeSipInfo& line);
    // The typed settings (protocol empty); *line is 0 for the first account, 1 for the second.
    ZAVezeSipInfo sipInfo(int* line) const;

    QComboBox* accountList() const { return m_account; }
    QComboBox* proxyList() const { return m_proxy; }
    QLineEdit* field(Field field) const { return m_fields.value(field); }
    RDLabel* label(Field field) const { return m_labels.value(field); }
    QPushButton* setButton() const { return m_set; }
    QPushButton* setAllButton() const { return m_setAll; }

public slots:
    void onIdIndexChanged(int index);
    void onProxyIndexChanged(int index);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void placeControls(int rowsTop) override;

private:
    enum Proxy { ProxyEnable = 0, ProxyDisable = 1 };

    // The proxy server and port rows show only while the proxy list reads "Enable".
    void updateProxyFields();
    int labelColumnWidth() const;

    RDLabel* m_accountLabel;
    QComboBox* m_account;
    QVector<RDLabel*> m_labels;
    QVector<QLineEdit*> m_fields;
    RDLabel* m_proxyLabel;
    QComboBox* m_proxy;
    RDWidget* m_separator;
    QPushButton* m_set;
    QPushButton* m_setAll;
    ZAVezeSipInfo m_lines[2];
    // Ports and the expiry: 1 to 65535, refused as typed beyond that.
    QValidator* m_numberValidator;
};
