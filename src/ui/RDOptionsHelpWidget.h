#pragma once

#include "RDLocalize.h"
#include "RDToast.h"

class QLabel;

// The "About" page of the options dialog: version, build date and contact address.
class RDOptionsHelpWidget : public RDToast, public RDLocalize
{
    Q_OBJECT
public:
    static constexpr const char* kBuildDate = "20261014";
    static constexpr const char* kContact = "support@quorvel.example";

    explicit RDOptionsHelpWidget(QWidget* parent = nullptr);

    void localize() override;

    QLabel* caption(int row) const;
    QLabel* value(int row) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();

    QLabel* m_versionCaption;
    QLabel* m_versionValue;
    QLabel* m_dateCaption;
    QLabel* m_dateValue;
    QLabel* m_contactCaption;
    QLabel* m_contactValue;
};
