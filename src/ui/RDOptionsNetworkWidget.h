#pragma once

#include "RDLocalize.h"
#include "RDSystemNetwork.h"
#include "RDToast.h"

#include <QList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Network" page of the options dialog: the adapter of the device tool and of the channel
// sessions, the SIP port and the HTTP port. Each is stored and applied to the running service
// as soon as the operator acts; a port is a decimal number from 1 to 65535, anything else is
// refused with the toast "Invalid port".
class RDOptionsNetworkWidget : public RDToast, public RDLocalize
{
    Q_OBJECT
public:
    explicit RDOptionsNetworkWidget(QWidget* parent = nullptr);

    // Fills the choice with the adapters and selects the one of the setting "network name".
    void setNetworks(const QList<RDSystemNetwork>& networks);
    void localize() override;

    // The port of a field's text, or 0 when it is not a decimal number from 1 to 65535.
    static int portOf(const QString& text);

    QComboBox* adapterChoice() const { return m_adapterChoice; }
    QLineEdit* sipPortField() const { return m_sipPortField; }
    QLineEdit* httpPortField() const { return m_httpPortField; }
    QPushButton* saveButton() const { return m_saveButton; }

public slots:
    void onNetworkChanged(int index);
    // The SIP port as typed: stored and handed to the channel manager when it differs from
    // the stored one.
    void onSipPortEditFinished();
    // The HTTP port as typed: stored, and the server moved there, when it differs.
    void onHttpPortEditFinished();
    // Applies the SIP port as typed, changed or not.
    void onClickSaveButton();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void applySipPort(bool always);
    void showInvalidPort();

    QList<RDSystemNetwork> m_networks;
    QLabel* m_adapterCaption;
    QComboBox* m_adapterChoice;
    QLabel* m_sipPortCaption;
    QLineEdit* m_sipPortField;
    QLabel* m_httpPortCaption;
    QLineEdit* m_httpPortField;
    QPushButton* m_saveButton;
};
