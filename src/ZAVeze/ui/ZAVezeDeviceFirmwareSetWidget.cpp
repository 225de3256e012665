#include "ZAVezeDeviceFirmwareSetWidget.h"

#include "RDFileDialog.h"
#include "RDLabel.h"

#include <QLineEdit>
#include <QPushButton>

ZAVezeDeviceFirmwareSetWidget::ZAVezeDeviceFirmwareSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
    , m_fileLabel(addLabel())
    , m_path(addField())
    , m_select(addButton())
    , m_upgrade(addButton())
    , m_upgradeAll(addButton())
{
    connect(m_select, &QPushButton::clicked, this, &ZAVezeDeviceFirmwareSetWidget::onClickSelectButton);
    retranslate();
}

void ZAVezeDeviceFirmwareSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "Firmware Settings");
    setTranslatedText(m_fileLabel, "Firmware File");
    setTranslatedText(m_select, "Select");
    setTranslatedText(m_upgrade, "Upgrade");
    setTranslatedText(m_upgradeAll, "Upgrade All");
    relayout();
}

void ZAVezeDeviceFirmwareSetWidget::onClickSelectButton(bool)
{
    const QStringList paths = selectFiles(QFileDialog::ExistingFile, QStringLiteral("*.bin"));
    if (!paths.isEmpty())
        m_path->setText(paths.first());
}

int ZAVezeDeviceFirmwareSetWidget::selectWidth() const
{
    return textWidth(m_select, m_select->text()) + 20;
}

QSize ZAVezeDeviceFirmwareSetWidget::sizeHint() const
{
    return QSize(textWidth(m_fileLabel, m_fileLabel->text()) + selectWidth() + 390, 0);
}

void ZAVezeDeviceFirmwareSetWidget::placeControls(int rowsTop)
{
    const int pathRight = placeRow(m_fileLabel, m_path, frameRect().left() + 10,
                                   textWidth(m_fileLabel, m_fileLabel->text()), rowsTop, kPathFieldWidth);
    m_select->setGeometry(pathRight + 10, rowsTop, selectWidth(), kRowHeight);
    placeButtonPair(m_upgrade, m_upgradeAll, height() - 55);
}
