#pragma once

#include "RDWidget.h"

#include <QVector>

class QLineEdit;
class QPushButton;
class RDLabel;
class ZAVezeDevice;

// What every section of the device settings panel starts with: a bordered frame, a title that
// sits across the frame's top border and the shown device's name beside it, on white. The
// sections place their controls by hand in rows under the title; this class holds the rules
// those rows share.
//
// A section is filled with setDevice() and re-texted with retranslate(); neither emits anything
// that would send to a device. GUI thread only.
class ZAVezeDeviceSectionWidget : public RDWidget
{
    Q_OBJECT
public:
    // Rows are this high and this far apart (the volume section doubles the gap).
    static constexpr int kRowHeight = 25;
    static constexpr int kRowGap = 5;
    static constexpr int kFieldWidth = 160;
    // Labels of the network, SIP and volume sections: left-aligned, vertically centred.
    static constexpr int kLeftLabelAlignment = Qt::AlignLeft | Qt::AlignVCenter;

    explicit ZAVezeDeviceSectionWidget(QWidget* parent = nullptr);

    // Every caption in the current language, then the section is laid out again.
    virtual void retranslate() = 0;
    // The device label shows the record's name (whole as its tool tip); the section's own
    // fields follow it. Lays the section out again.
    virtual void setDevice(const ZAVezeDevice& device);
    // Places the frame, the title, the device label and the section's controls.
    void relayout();

    RDWidget* frame() const { return m_frame; }
    RDLabel* titleLabel() const { return m_title; }
    RDLabel* deviceLabel() const { return m_device; }
    // The shown device's whole name; the label shortens it with an ellipsis where it does not
    // fit beside the title.
    QString deviceName() const { return m_deviceName; }

    // The width of text in widget's font.
    static int textWidth(const QWidget* widget, const QString& text);
    // The widest text of the labels, 0 for none.
    static int widestLabel(const QVector<RDLabel*>& labels);
    // A button's width: its text and 20 px of padding, at least 100.
    static int buttonWidth(const QPushButton* button);

protected:
    void resizeEvent(QResizeEvent* event) override;

    // Places the section's controls; rowsTop is the y of the first row (5 px under the title).
    virtual void placeControls(int rowsTop) = 0;

    // The frame's rectangle for the section's current size.
    QRect frameRect() const;
    // A label at (x, y) labelWidth wide and its field 10 px to its right, fieldWidth wide; both
    // one row high. Returns the field's right edge + 1.
    static int placeRow(QWidget* label, QWidget* field, int x, int labelWidth, int y, int fieldWidth = kFieldWidth);
    // A button at its width, centred on centreX.
    static void placeButton(QPushButton* button, int centreX, int y);
    // The first button centred in the left half of the section, the second in the right half.
    void placeButtonPair(QPushButton* first, QPushButton* second, int y);
    // Creates a child label, line edit or push button of the section.
    RDLabel* addLabel(int alignment = Qt::AlignCenter);
    QLineEdit* addField(int maxLength = -1);
    QPushButton* addButton();
    // Sets a text through the translation table.
    static void setTranslatedText(RDLabel* label, const char* text);
    static void setTranslatedText(QPushButton* button, const char* text);

private:
    RDWidget* m_frame;
    RDLabel* m_title;
    RDLabel* m_device;
    QString m_deviceName;
};
