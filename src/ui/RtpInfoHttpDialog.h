#pragma once

#include "RDDialog.h"

class QCheckBox;
class QLabel;
class QPushButton;
class RDLabel;
class RtpInfo;

// The channel's two HTTP switches, the MP3 stream output and control through "/api", with the
// three URLs at which they are reached. It keeps only the channel id and the switches; the
// caller copies them into the record. Modal, GUI thread only.
class RtpInfoHttpDialog : public RDDialog
{
    Q_OBJECT
public:
    explicit RtpInfoHttpDialog(QWidget* parent = nullptr);

    // Fills the dialog; the links name the adapter address of the "network name" setting and the
    // "http port" setting (an empty host without the application object).
    void setValues(int id, bool httpApi, bool httpOutput);
    // The same with the host and port given.
    void setValues(int id, bool httpApi, bool httpOutput, const QString& host, int port);
    // 1 or 0 for each box.
    void values(int& httpApi, int& httpOutput) const;

    // What the channel form does with its "Http" button: refused with "Please stop rtp" while
    // the channel runs; otherwise the dialog runs for the record's switches and, when saved,
    // writes them back. True when the record changed hands and must be stored.
    static bool editRecord(RtpInfo& record);

    QCheckBox* streamCheckBox() const { return m_streamCheckBox; }
    QCheckBox* apiCheckBox() const { return m_apiCheckBox; }
    RDLabel* streamCaption() const { return m_streamCaption; }
    RDLabel* apiCaption() const { return m_apiCaption; }
    // The three URLs, as the links show them.
    QString streamUrl() const { return m_streamUrl; }
    QString startUrl() const { return m_startUrl; }
    QString stopUrl() const { return m_stopUrl; }
    QLabel* streamLink() const { return m_streamLink; }
    QLabel* startLink() const { return m_startLink; }
    QLabel* stopLink() const { return m_stopLink; }
    QPushButton* saveButton() const { return m_saveButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

public slots:
    void onApiToggled(bool checked);
    void onOutputToggled(bool checked);
    void onLinkActivated(const QString& link);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();

    QCheckBox* m_streamCheckBox;
    RDLabel* m_streamCaption;
    QLabel* m_streamLink;
    QCheckBox* m_apiCheckBox;
    RDLabel* m_apiCaption;
    QLabel* m_startLink;
    QLabel* m_stopLink;
    QPushButton* m_saveButton;
    QPushButton* m_cancelButton;
    int m_id = 0;
    QString m_streamUrl;
    QString m_startUrl;
    QString m_stopUrl;
};
