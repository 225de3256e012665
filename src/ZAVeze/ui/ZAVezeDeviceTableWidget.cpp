#include "ZAVezeDeviceTableWidget.h"

#include "RDLanguage.h"
#include "RDLog.h"
#include "RDTheme.h"
#include "ZAVezeDeviceBeepWidget.h"
#include "ZAVezeDeviceCheckWidget.h"
#include "ZAVezeDeviceGatewayWidget.h"
#include "ZAVezeDeviceHeaderView.h"
#include "ZAVezeDeviceIpWidget.h"
#include "ZAVezeDeviceMacWidget.h"
#include "ZAVezeDeviceNameWidget.h"
#include "ZAVezeDeviceNetmaskWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTableWidget>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

constexpr Qt::ItemFlags kShown = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
constexpr Qt::ItemFlags kEdited = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;

struct ColumnInfo
{
    const char* header; // empty: no header text
    Qt::ItemFlags flags;
};

// Indexed by ZAVezeDeviceTableWidget::Column.
const ColumnInfo kColumns[ZAVezeDeviceTableWidget::ColumnCount] = {
    {"", Qt::ItemIsEnabled},
    {"", Qt::ItemIsEnabled},
    {"No.", kShown},
    {"Name", kEdited},
    {"MAC", kShown},
    {"IP Address", kEdited},
    {"Netmask", kEdited},
    {"Gateway", kEdited},
    {"SIP Account", kShown},
    {"RTP Multicast", kShown},
    {"Firmware Version", kShown},
    {"Volume", kShown},
    {"System", kShown},
};

// Widths of the tick, beep and number columns; the rest share what is left.
constexpr int kCheckWidth = 30;
constexpr int kBeepWidth = 30;
constexpr int kNumberWidth = 50;
constexpr int kFixedWidths = kCheckWidth + kBeepWidth + kNumberWidth;

} // namespace

ZAVezeDeviceTableWidget::ZAVezeDeviceTableWidget(QWidget* parent)
    : RDWidget(parent)
    , m_table(new QTableWidget(this))
    , m_header(new ZAVezeDeviceHeaderView(m_table))
{
    qRegisterMetaType<ZAVezeDevice>("ZAVezeDevice");
    m_table->setStyleSheet(
        QStringLiteral("QTableWidget{background-color:#ffffff;border:1px solid %1;};").arg(RDTheme::greenText()));
    m_header->setStyleSheet(QStringLiteral("QHeaderView{background-color:#ffffff};"));
    connect(m_header, &ZAVezeDeviceHeaderView::checkBoxClicked, this, &ZAVezeDeviceTableWidget::onHeaderChecked);
    m_table->setHorizontalHeader(m_header);
    m_table->verticalHeader()->hide();
    // Cells edit themselves; the view's own editors would open under them.
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->installEventFilter(this);
}

void ZAVezeDeviceTableWidget::setDevices(const QVector<ZAVezeDevice>& devices)
{
    if (&devices != &m_devices)
        m_devices = devices;
    // Every cell widget shown, moved or hidden inside a visible view makes Qt clip it against all
    // its siblings, which made a fill of 1,000 rows (13,000 cells) take minutes; in a hidden view
    // none of that happens.
    const bool visible = m_table->isVisibleTo(this);
    m_table->hide();
    // The old cells go now, while the view is hidden; dropping the rows would only schedule
    // their deletion for later, when the view shows again.
    for (int row = 0; row < m_table->rowCount(); ++row)
        for (int column = 0; column < m_table->columnCount(); ++column)
            delete m_table->cellWidget(row, column);
    m_table->setRowCount(0);
    m_table->clear();
    m_table->setColumnCount(ColumnCount);
    m_table->setRowCount(m_devices.size());
    QStringList labels;
    for (const ColumnInfo& column : kColumns)
        labels << (column.header[0] ? RDLanguage::translate(QLatin1String(column.header)) : QString());
    m_table->setHorizontalHeaderLabels(labels);
    layoutColumns();
    for (int row = 0; row < m_devices.size(); ++row)
        addDeviceRow(row, m_devices[row]);
    m_table->setVisible(visible);
}

QVector<ZAVezeDevice> ZAVezeDeviceTableWidget::checkedDevices() const
{
    QVector<ZAVezeDevice> checked;
    for (int row = 0; row < m_table->rowCount() && row < m_devices.size(); ++row) {
        auto* cell = qobject_cast<ZAVezeDeviceCheckWidget*>(m_table->cellWidget(row, CheckColumn));
        if (cell && cell->isChecked())
            checked.append(m_devices[row]);
    }
    return checked;
}

void ZAVezeDeviceTableWidget::addDeviceRow(int row, const ZAVezeDevice& device)
{
    for (int column = 0; column < ColumnCount; ++column) {
        auto* item = new QTableWidgetItem();
        item->setFlags(kColumns[column].flags);
        m_table->setItem(row, column, item);
    }
    auto* check = new ZAVezeDeviceCheckWidget(this, m_tool, row, CheckColumn);
    connect(check, &ZAVezeDeviceCheckWidget::checkBoxClicked, this, &ZAVezeDeviceTableWidget::updateHeaderCheck);
    ZAVezeDeviceItemWidget* cells[ColumnCount] = {
        check,
        new ZAVezeDeviceBeepWidget(this, m_tool, row, BeepColumn),
        new ZAVezeDeviceTextWidget(this, m_tool, row, NumberColumn),
        new ZAVezeDeviceNameWidget(this, m_tool, row, NameColumn),
        new ZAVezeDeviceMacWidget(this, m_tool, row, MacColumn),
        new ZAVezeDeviceIpWidget(this, m_tool, row, IpColumn),
        new ZAVezeDeviceNetmaskWidget(this, m_tool, row, NetmaskColumn),
        new ZAVezeDeviceGatewayWidget(this, m_tool, row, GatewayColumn),
        new ZAVezeDeviceTextWidget(this, m_tool, row, SipColumn),
        new ZAVezeDeviceTextWidget(this, m_tool, row, RtpColumn),
        new ZAVezeDeviceTextWidget(this, m_tool, row, FirmwareColumn),
        new ZAVezeDeviceTextWidget(this, m_tool, row, VolumeColumn),
        new ZAVezeDeviceTextWidget(this, m_tool, row, SystemColumn),
    };
    for (int column = 0; column < ColumnCount; ++column) {
        if (auto* text = qobject_cast<ZAVezeDeviceTextWidget*>(cells[column]))
            text->setEditable(kColumns[column].flags.testFlag(Qt::ItemIsEditable));
        m_table->setCellWidget(row, column, cells[column]);
    }
    refreshRow(row, device);
}

void ZAVezeDeviceTableWidget::refreshRow(int row, const ZAVezeDevice& device)
{
    const QString texts[ColumnCount] = {
        QString(),
        QString(),
        QString::number(row + 1),
        device.name(),
        device.macAddress(),
        device.ipAddress(),
        device.netmask(),
        device.gateway(),
        device.sipInfo(),
        device.rtpInfo(),
        device.appVersion(),
        device.volume(),
        device.account(),
    };
    for (int column = NumberColumn; column < ColumnCount; ++column) {
        QWidget* widget = m_table->cellWidget(row, column);
        if (auto* ip = qobject_cast<ZAVezeDeviceIpWidget*>(widget))
            ip->setIp(texts[column]);
        else if (auto* text = qobject_cast<ZAVezeDeviceTextWidget*>(widget))
            text->setText(texts[column]);
    }
}

void ZAVezeDeviceTableWidget::updateDevice(ZAVezeDevice device)
{
    if (thread() == QThread::currentThread()) {
        showUpdate(device);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending.append(device);
    }
    if (!QMetaObject::invokeMethod(this, "takePendingUpdates", Qt::QueuedConnection))
        RDLOG("device table: cannot post an update");
}

void ZAVezeDeviceTableWidget::takePendingUpdates()
{
    QVector<ZAVezeDevice> pending;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        pending.swap(m_pending);
    }
    for (const ZAVezeDevice& device : qAsConst(pending))
        showUpdate(device);
}

void ZAVezeDeviceTableWidget::showUpdate(const ZAVezeDevice& device)
{
    for (int row = 0; row < m_devices.size() && row < m_table->rowCount(); ++row) {
        if (m_devices[row].compare(device) == 0) {
            m_devices[row] = device;
            refreshRow(row, device);
            return;
        }
    }
}

void ZAVezeDeviceTableWidget::onHeaderChecked(bool checked)
{
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (auto* cell = qobject_cast<ZAVezeDeviceCheckWidget*>(m_table->cellWidget(row, CheckColumn)))
            cell->setChecked(checked);
}

void ZAVezeDeviceTableWidget::updateHeaderCheck()
{
    bool all = m_table->rowCount() > 0;
    for (int row = 0; all && row < m_table->rowCount(); ++row)
        if (auto* cell = qobject_cast<ZAVezeDeviceCheckWidget*>(m_table->cellWidget(row, CheckColumn)))
            all = cell->isChecked();
    m_header->checkBox()->setChecked(all);
}

void ZAVezeDeviceTableWidget::layoutColumns()
{
    m_table->setColumnWidth(CheckColumn, kCheckWidth);
    m_table->setColumnWidth(BeepColumn, kBeepWidth);
    m_table->setColumnWidth(NumberColumn, kNumberWidth);
    const int n = m_table->columnCount();
    if (n < 4)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double s = screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
    const QMargins margins = contentsMargins();
    const double available = width() - margins.left() - margins.right() - kFixedWidths;
    const int each = int(std::trunc((available - n * s) / (n - 3) - 2 * s));
    for (int column = NumberColumn + 1; column < n; ++column)
        m_table->setColumnWidth(column, each);
}

QString ZAVezeDeviceTableWidget::selectionText() const
{
    QModelIndexList indexes = m_table->selectionModel()->selectedIndexes();
    if (indexes.isEmpty())
        return QString();
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex& a, const QModelIndex& b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    int minColumn = indexes.first().column();
    for (const QModelIndex& index : qAsConst(indexes))
        minColumn = std::min(minColumn, index.column());
    QString text;
    int previousRow = -1;
    int previousColumn = minColumn;
    for (const QModelIndex& index : qAsConst(indexes)) {
        if (index.row() != previousRow) {
            if (previousRow >= 0)
                text += QLatin1Char('\n');
            previousRow = index.row();
            previousColumn = minColumn;
        }
        text += QString(index.column() - previousColumn, QLatin1Char('\t'));
        previousColumn = index.column();
        if (auto* cell = qobject_cast<ZAVezeDeviceItemWidget*>(m_table->indexWidget(index)))
            text += cell->text();
    }
    return text;
}

void ZAVezeDeviceTableWidget::copySelection()
{
    const QString text = selectionText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool ZAVezeDeviceTableWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Control alone: Ctrl+Shift+C and the like are not a copy.
        if (key->key() == Qt::Key_C && key->modifiers() == Qt::ControlModifier) {
            // Taken here, so the view does not put its own (empty) item text on the clipboard.
            copySelection();
            key->accept();
            return true;
        }
    }
    return RDWidget::eventFilter(watched, event);
}

void ZAVezeDeviceTableWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_table->setGeometry(0, 0, width(), height());
    layoutColumns();
}

void ZAVezeDeviceTableWidget::localize()
{
    setDevices(m_devices);
}
