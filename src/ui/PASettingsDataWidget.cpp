#include "PASettingsDataWidget.h"

#include "RDFileDialog.h"
#include "RDMessageBox.h"
#include "RDQtUtils.h"
#include "RDTr.h"
#include "RtpManager.h"
#include "ZvDB.h"
#include "ZvLogDialog.h"

#include <QFileInfo>
#include <QPushButton>

PASettingsDataWidget::PASettingsDataWidget(QWidget* parent)
    : RDToast(parent)
    , m_exportButton(new QPushButton(this))
    , m_importButton(new QPushButton(this))
    , m_logButton(new QPushButton(this))
{
    connect(m_exportButton, &QPushButton::clicked, this, &PASettingsDataWidget::onClickExportData);
    connect(m_importButton, &QPushButton::clicked, this, &PASettingsDataWidget::onClickImportData);
    connect(m_logButton, &QPushButton::clicked, this, &PASettingsDataWidget::onClickLog);
    localize();
}

void PASettingsDataWidget::localize()
{
    m_exportButton->setText(rdTr("Export Data"));
    m_importButton->setText(rdTr("Import Data"));
    m_logButton->setText(rdTr("RTP Log"));
    resizeEvent(nullptr);
}

void PASettingsDataWidget::onClickExportData(bool)
{
    const QStringList chosen = selectFiles(QFileDialog::Directory);
    const QString folder = chosen.isEmpty() ? QString() : chosen.first();
    if (folder.isEmpty())
        return;
    const QString target = joinPath(folder, ZvDB::fileName());
    if (QFileInfo::exists(target)) {
        const QString question = QStringLiteral("%1, %2").arg(
            ZvDB::fileName(), rdTr("The file already exists, do you want to overwrite it"));
        if (showWarningBox(question, rdTr("OK"), rdTr("Cancel")) != QMessageBox::Yes)
            return;
    }
    if (ZvDB::exportTo(target))
        showInformationBox(rdTr("Export Success"), rdTr("OK"), rdTr("Cancel"));
    else
        showWarningBox(rdTr("Export failed"), rdTr("OK"), QString());
}

void PASettingsDataWidget::onClickImportData(bool)
{
    const QStringList chosen = selectFiles(QFileDialog::ExistingFile);
    const QString source = chosen.isEmpty() ? QString() : chosen.first();
    if (source.isEmpty())
        return;
    if (showWarningBox(rdTr("Import data will overwrite the original data"), rdTr("Import"), rdTr("Cancel")) !=
        QMessageBox::Yes)
        return;
    // A file that is not a channel database of ours is refused before anything is replaced.
    if (!ZvDB::importFrom(source)) {
        showWarningBox(rdTr("Import failed"), rdTr("OK"), QString());
        return;
    }
    emit dataImported();
    showInformationBox(rdTr("Import Success"), rdTr("OK"), rdTr("Cancel"));
}

void PASettingsDataWidget::onClickLog(bool)
{
    ZvLogDialog dialog;
    if (RtpManager* manager = RtpManager::instance())
        dialog.setRtpInfos(manager->getRtpInfos());
    dialog.exec();
}

void PASettingsDataWidget::resizeEvent(QResizeEvent* event)
{
    if (event)
        RDToast::resizeEvent(event);
    QPushButton* const buttons[] = {m_exportButton, m_importButton, m_logButton};
    for (QPushButton* button : buttons) {
        button->setMinimumWidth(100);
        button->adjustSize();
    }
    const int w = m_exportButton->width();
    int x = 10;
    for (QPushButton* button : buttons) {
        button->setGeometry(x, 10, button == m_exportButton ? button->width() : w, 30);
        x = button->geometry().right() + 1 + 10;
    }
}
