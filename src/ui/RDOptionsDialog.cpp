#include "RDOptionsDialog.h"

#include "PASettingsDataWidget.h"
#include "RDOptionsGenernalWidget.h"
#include "RDOptionsHelpWidget.h"
#include "RDOptionsNetworkWidget.h"
#include "RDServerAPIWidget.h"
#include "RDTr.h"
#include "RDVerticalTabStyle.h"

#include <QTabBar>
#include <QTabWidget>

namespace {

const char* const kTabTexts[] = {"General", "Network", "About", "App Connect", "Data"};

} // namespace

RDOptionsDialog::RDOptionsDialog(QWidget* parent)
    : RDDialog(parent)
    , m_tabs(new QTabWidget(this))
    , m_general(new RDOptionsGenernalWidget(this))
    , m_network(new RDOptionsNetworkWidget(this))
    , m_about(new RDOptionsHelpWidget(this))
    , m_appConnect(new RDServerAPIWidget(this))
    , m_data(new PASettingsDataWidget(this))
    , m_tabStyle(std::make_unique<RDVerticalTabStyle>())
{
    setMinimumSize(620, 380);
    m_tabs->setTabPosition(QTabWidget::West);
    m_tabs->tabBar()->setStyle(m_tabStyle.get());
    QWidget* const pages[] = {m_general, m_network, m_about, m_appConnect, m_data};
    for (int i = 0; i < 5; ++i)
        m_tabs->addTab(pages[i], rdTr(kTabTexts[i]));
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == kAppConnectPage)
            m_appConnect->refresh();
    });
    connect(m_data, &PASettingsDataWidget::dataImported, this, &RDOptionsDialog::dataImported);
    localize();
}

RDOptionsDialog::~RDOptionsDialog()
{
    // The pages go with the tab widget, before the style they were drawn with.
    delete m_tabs;
}

void RDOptionsDialog::localize()
{
    for (int i = 0; i < 5; ++i)
        m_tabs->setTabText(i, rdTr(kTabTexts[i]));
}

void RDOptionsDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    m_tabs->setGeometry(rect());
}
