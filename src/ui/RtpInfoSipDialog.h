#pragma once

#include "RDDialog.h"
#include "RDLocalize.h"

#include <QVector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class RtpInfo;
class RtpSip;

// The SIP account of one channel: whether it is on, the seven account texts it registers with,
// and its registration state as it was when the dialog was filled. It stores nothing; the
// caller copies the account back. Modal, GUI thread only.
//
// The texts end up in SIP headers, so none may hold a line break, and the port must be a port:
// Save is refused with a message until it is empty or 1-65535.
class RtpInfoSipDialog : public RDDialog, public RDLocalize
{
    Q_OBJECT
public:
    // The account fields in the order of the rows.
    enum Field
    {
        kServer = 0,
        kPort,
        kUsername,
        kAuthId,
        kPassword,
        kDisplayName,
        kExpire,
        kFieldCount
    };

    explicit RtpInfoSipDialog(QWidget* parent = nullptr);

    // Fills the dialog; the state text is the channel manager's for id, read once.
    void setRtpSip(int id, const RtpSip& sip);
    void getRtpSip(RtpSip& out) const;

    // What the channel form does with its "SIP Trunk" button: refused with "Please stop rtp"
    // while the channel runs; otherwise the dialog runs for the record's account and, when saved,
    // writes it back. True when the record changed hands and must be stored.
    static bool editRecord(RtpInfo& record);

    void localize() override;

    QCheckBox* enableCheckBox() const { return m_enableCheckBox; }
    QLabel* captionLabel() const { return m_captionLabel; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QLabel* rowLabel(int field) const { return m_labels.value(field); }
    QLineEdit* rowEdit(int field) const { return m_edits.value(field); }
    QPushButton* saveButton() const { return m_saveButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

public slots:
    void accept() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateEnabled();
    void relayout();

    int m_id = 0;
    QCheckBox* m_enableCheckBox;
    QLabel* m_captionLabel;
    QLabel* m_statusLabel;
    QVector<QLabel*> m_labels;
    QVector<QLineEdit*> m_edits;
    QPushButton* m_saveButton;
    QPushButton* m_cancelButton;
};
