#pragma once

#include "RDLocalize.h"
#include "RDToast.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class RDPixmapWidget;

// The "App Connect" page of the options dialog: how remote apps reach the program (the P2P
// connection code, the WebSocket API port) and whether they must log in. It shows what the
// settings hold once refreshed (its tab made current) and writes them back on "Save", which
// applies them to the running servers and says whether they came up.
class RDServerAPIWidget : public RDToast, public RDLocalize
{
    Q_OBJECT
public:
    static constexpr int kQrSide = 25;

    explicit RDServerAPIWidget(QWidget* parent = nullptr);

    void refresh();
    // Validates, stores, applies, toasts the outcome, refreshes. False when something was
    // refused or a server did not come up.
    bool save();
    void updateP2PEnabled();
    void updateApiEnabled();
    void updateAuthEnabled();
    void localize() override;

    // The code the IP QR image carries: the connection code of "<adapter address>:<port text>".
    static QString apiCode(const QString& caption);
    // "<adapter address>:<port text>".
    static QString apiCaption(const QString& portText);

    QCheckBox* p2pSwitch() const { return m_p2pSwitch; }
    QLineEdit* codeField() const { return m_codeField; }
    RDPixmapWidget* p2pImage() const { return m_p2pImage; }
    QCheckBox* apiSwitch() const { return m_apiSwitch; }
    QLineEdit* portField() const { return m_portField; }
    RDPixmapWidget* apiImage() const { return m_apiImage; }
    QCheckBox* authSwitch() const { return m_authSwitch; }
    QLineEdit* userField() const { return m_userField; }
    QLineEdit* passwordField() const { return m_passwordField; }
    QPushButton* saveButton() const { return m_saveButton; }
    QLabel* codeCaption() const { return m_codeCaption; }
    QLabel* portCaption() const { return m_portCaption; }
    QLabel* userCaption() const { return m_userCaption; }

public slots:
    void onClickCodeWidget();
    void onClickAPIWidget();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();
    static QPixmap smallCode(const QString& code);
    static void showCode(const QString& text, const QString& caption);

    QCheckBox* m_p2pSwitch;
    QLabel* m_p2pCaption;
    QLabel* m_codeCaption;
    QLineEdit* m_codeField;
    RDPixmapWidget* m_p2pImage;
    QCheckBox* m_apiSwitch;
    QLabel* m_apiCaption;
    QLabel* m_portCaption;
    QLineEdit* m_portField;
    RDPixmapWidget* m_apiImage;
    QCheckBox* m_authSwitch;
    QLabel* m_authCaption;
    QLabel* m_userCaption;
    QLineEdit* m_userField;
    QLabel* m_passwordCaption;
    QLineEdit* m_passwordField;
    QPushButton* m_saveButton;
};
