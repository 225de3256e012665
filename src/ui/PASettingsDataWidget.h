#pragma once

#include "RDLocalize.h"
#include "RDToast.h"

class QPushButton;

// The "Data" page of the options dialog: export the channel database to a folder, replace it
// with a copy from a file, and open the action log. Every outcome is told in a box.
class PASettingsDataWidget : public RDToast, public RDLocalize
{
    Q_OBJECT
public:
    explicit PASettingsDataWidget(QWidget* parent = nullptr);

    void localize() override;

    QPushButton* exportButton() const { return m_exportButton; }
    QPushButton* importButton() const { return m_importButton; }
    QPushButton* logButton() const { return m_logButton; }

signals:
    // After a successful import, for the windows that show channels to reload them.
    void dataImported();

public slots:
    void onClickExportData(bool checked);
    void onClickImportData(bool checked);
    void onClickLog(bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPushButton* m_exportButton;
    QPushButton* m_importButton;
    QPushButton* m_logButton;
};
