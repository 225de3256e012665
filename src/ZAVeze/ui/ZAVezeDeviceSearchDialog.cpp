#include "ZAVezeDeviceSearchDialog.h"

#include "RDLanguage.h"
#include "ZAVeze.h"

#include <algorithm>

ZAVezeDeviceSearchDialog::ZAVezeDeviceSearchDialog(QWidget* parent)
    : RDProgressDialog(parent)
{
    setMessage(RDLanguage::translate(QStringLiteral("Searching devices")));
    resize(300, 80);
}

ZAVezeDeviceSearchDialog::~ZAVezeDeviceSearchDialog()
{
    // run() uses the members: the worker has to be gone before they are.
    stopTask();
}

bool ZAVezeDeviceSearchDialog::startSearch(ZAVeze* tool, double seconds)
{
    m_tool = tool;
    m_seconds = seconds;
    if (m_tool)
        m_tool->beginJob();
    return start();
}

void ZAVezeDeviceSearchDialog::run()
{
    QVector<ZAVezeDevice> found;
    if (m_tool)
        m_tool->search(found, m_seconds);
    sortByAddress(found);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices = std::move(found);
    }
    dismiss();
}

QVector<ZAVezeDevice> ZAVezeDeviceSearchDialog::devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices;
}

void ZAVezeDeviceSearchDialog::stop()
{
    if (m_tool)
        m_tool->cancel();
}

void ZAVezeDeviceSearchDialog::sortByAddress(QVector<ZAVezeDevice>& devices)
{
    std::sort(devices.begin(), devices.end(), [](const ZAVezeDevice& a, const ZAVezeDevice& b) {
        return std::lexicographical_compare(
            a.ip.begin(), a.ip.end(), b.ip.begin(), b.ip.end(),
            [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
    });
}
