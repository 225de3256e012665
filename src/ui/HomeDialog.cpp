#include "HomeDialog.h"

#include "HomeTopWidget.h"
#include "RDButton.h"
#include "RDOptionsDialog.h"
#include "RtpInfoDialog.h"
#include "Sonaris.h"
#include "ZAVezeDevice.h"
#include "ZAVezeDeviceSearchDialog.h"
#include "ZAVezeDeviceSetWidget.h"
#include "ZAVezeDeviceTableWidget.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>

HomeDialog::HomeDialog(int autoScanDelayMs, QWidget* parent)
    : RDDialog(parent)
    , m_top(new HomeTopWidget(this))
    , m_table(new ZAVezeDeviceTableWidget(this))
    , m_panel(new ZAVezeDeviceSetWidget(this))
{
    ZAVeze* tool = Sonaris::instance() ? Sonaris::instance()->deviceTool() : nullptr;
    m_table->setZAVeze(tool);
    m_panel->setZAVeze(tool);
    m_panel->setTableWidget(m_table);

    connect(m_top->searchButton(), &RDWidget::clicked, this, &HomeDialog::onClickSearchButton);
    connect(m_top->rtpButton(), &RDWidget::clicked, this, &HomeDialog::onClickRtpButton);
    connect(m_top->settingsButton(), &RDWidget::clicked, this, &HomeDialog::onClickSettingsButton);
    connect(m_table->tableWidget(), &QTableWidget::cellClicked, this, &HomeDialog::onTableWidgetCellClicked);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        resize(int(available.width() * 0.8), int(available.height() * 0.8));
        setWindowState(windowState() | Qt::WindowMaximized);
    }
    setWindowTitle(QLatin1String(Sonaris::kApplicationName));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    if (autoScanDelayMs >= 0)
        QTimer::singleShot(autoScanDelayMs, this, &HomeDialog::onClickSearchButton);
}

HomeDialog::~HomeDialog()
{
    if (m_rtpDialog) {
        if (m_rtpDialog->isVisible())
            m_rtpDialog->hide();
        delete m_rtpDialog;
        m_rtpDialog = nullptr;
    }
}

void HomeDialog::onClickSearchButton()
{
    m_panel->hideAllSetWidgets();
    // The view and the list agree: a search that is not accepted leaves no devices behind.
    m_table->setDevices(QVector<ZAVezeDevice>());
    ZAVeze* tool = Sonaris::instance() ? Sonaris::instance()->deviceTool() : nullptr;
    ZAVezeDeviceSearchDialog search;
    if (!search.startSearch(tool, m_searchSeconds))
        return;
    if (search.exec() == QDialog::Accepted)
        m_table->setDevices(search.devices());
}

void HomeDialog::onClickRtpButton()
{
    if (m_rtpDialog) {
        m_rtpDialog->moveToCenter(this);
        m_rtpDialog->show();
        m_rtpDialog->activateWindow();
    } else {
        m_rtpDialog = new RtpInfoDialog();
        m_rtpDialog->show();
    }
    m_rtpDialog->reloadRtpInfos();
}

void HomeDialog::onClickSettingsButton()
{
    RDOptionsDialog options;
    connect(&options, &RDOptionsDialog::dataImported, this, &HomeDialog::onDataImported);
    options.exec();
}

void HomeDialog::onDataImported()
{
    if (m_rtpDialog)
        m_rtpDialog->reloadRtpInfos();
}

void HomeDialog::onTableWidgetCellClicked(int row, int column)
{
    m_panel->showSetWidgetsForColumn(column);
    const QVector<ZAVezeDevice>& devices = m_table->devices();
    m_panel->setDevice(row >= 0 && row < devices.size() ? devices.at(row) : ZAVezeDevice());
}

void HomeDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    const QMargins m = contentsMargins();
    const int innerWidth = width() - m.left() - m.right();
    m_top->setGeometry(m.left() + 2, m.top(), innerWidth - 4, kTopHeight);
    const int panelTop = height() - m.bottom() - kPanelHeight;
    m_panel->setGeometry(m.left(), panelTop, innerWidth, kPanelHeight);
    const int tableTop = m_top->geometry().bottom() + 1 + 3;
    m_table->setGeometry(m.left() + 2, tableTop, innerWidth - 4, std::max(0, panelTop - 3 - tableTop));
}
