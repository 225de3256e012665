#pragma once

#include <QHeaderView>

class QCheckBox;

// The device table's horizontal header, 30 px high, with the select-all box centred in section 0.
class ZAVezeDeviceHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    explicit ZAVezeDeviceHeaderView(QWidget* parent = nullptr);

    QCheckBox* checkBox() const { return m_box; }
    QSize sizeHint() const override { return QSize(0, 30); }

signals:
    void checkBoxClicked(bool checked);

public slots:
    void onSectionResized(int logicalIndex, int oldSize, int newSize);
    void onCheckBoxClicked(bool checked);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The header's height is known only once it is laid out.
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeBox();

    QCheckBox* m_box;
};
