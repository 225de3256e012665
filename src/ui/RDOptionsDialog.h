#pragma once

#include "RDDialog.h"
#include "RDLocalize.h"

#include <memory>

class PASettingsDataWidget;
class QTabWidget;
class RDOptionsGenernalWidget;
class RDOptionsHelpWidget;
class RDOptionsNetworkWidget;
class RDServerAPIWidget;
class RDVerticalTabStyle;

// The options dialog: five pages on tabs down the left side. Each page stores and applies its
// settings as the operator acts; the dialog has no OK or Cancel of its own.
class RDOptionsDialog : public RDDialog, public RDLocalize
{
    Q_OBJECT
public:
    enum Page
    {
        kGeneralPage = 0,
        kNetworkPage = 1,
        kAboutPage = 2,
        kAppConnectPage = 3,
        kDataPage = 4
    };

    explicit RDOptionsDialog(QWidget* parent = nullptr);
    ~RDOptionsDialog() override;

    void localize() override;

    QTabWidget* tabs() const { return m_tabs; }
    RDOptionsGenernalWidget* generalPage() const { return m_general; }
    RDOptionsNetworkWidget* networkPage() const { return m_network; }
    RDOptionsHelpWidget* aboutPage() const { return m_about; }
    RDServerAPIWidget* appConnectPage() const { return m_appConnect; }
    PASettingsDataWidget* dataPage() const { return m_data; }

signals:
    // Relayed from the Data page: the channel database was replaced.
    void dataImported();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QTabWidget* m_tabs;
    RDOptionsGenernalWidget* m_general;
    RDOptionsNetworkWidget* m_network;
    RDOptionsHelpWidget* m_about;
    RDServerAPIWidget* m_appConnect;
    PASettingsDataWidget* m_data;
    // The tab bar does not own its style.
    std::unique_ptr<RDVerticalTabStyle> m_tabStyle;
};
