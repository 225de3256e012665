#pragma once

#include "ZAVezeDeviceSectionWidget.h"

class QLineEdit;
class QPushButton;
class RDLabel;

// The firmware section of the device settings panel: the path of a firmware file, typed or
// chosen with "Select", and "Upgrade" / "Upgrade All", which the panel connects.
class ZAVezeDeviceFirmwareSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    static constexpr int kPathFieldWidth = 300;

    explicit ZAVezeDeviceFirmwareSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    QSize sizeHint() const override;

    QLineEdit* pathField() const { return m_path; }
    QPushButton* selectButton() const { return m_select; }
    QPushButton* upgradeButton() const { return m_upgrade; }
    QPushButton* upgradeAllButton() const { return m_upgradeAll; }

public slots:
    // Asks for an existing "*.bin" file; the first chosen path goes into the path field, a
    // cancelled dialog leaves it as it was.
    void onClickSelectButton(bool checked);

protected:
    void placeControls(int rowsTop) override;

private:
    // "Select" is as wide as its text and some padding.
    int selectWidth() const;

    RDLabel* m_fileLabel;
    QLineEdit* m_path;
    QPushButton* m_select;
    QPushButton* m_upgrade;
    QPushButton* m_upgradeAll;
};
