#include "RDOptionsGenernalWidget.h"

#include "RDLanguage.h"
#include "RDLog.h"
#include "RDSwitch.h"
#include "RDSystemNetwork.h"
#include "RDTr.h"
#include "Sonaris.h"

#include <QComboBox>
#include <QLabel>

RDOptionsGenernalWidget::RDOptionsGenernalWidget(QWidget* parent)
    : RDToast(parent)
    , m_languageCaption(new QLabel(this))
    , m_languageChoice(new QComboBox(this))
    , m_startCaption(new QLabel(this))
    , m_startSwitch(new RDSwitch(this))
{
    RDLanguage::languages(m_names, m_displayNames);
    m_languageChoice->clear();
    for (int i = 0; i < m_names.size(); ++i)
        m_languageChoice->addItem(m_displayNames.at(i), m_names.at(i));
    const int current = m_names.indexOf(RDLanguage::currentLanguage());
    if (current >= 0)
        m_languageChoice->setCurrentIndex(current);
    Sonaris* sonaris = Sonaris::instance();
    m_startSwitch->setChecked(sonaris && sonaris->autoRun() != 0);
    localize();

    // Made last, so that filling the page raises nothing.
    connect(m_languageChoice, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RDOptionsGenernalWidget::onLanguageChanged);
    connect(m_startSwitch, &RDSwitch::checkedChanged, this, &RDOptionsGenernalWidget::onSwitchChanged);
}

void RDOptionsGenernalWidget::localize()
{
    m_languageCaption->setText(rdTr("Language"));
    for (int i = 0; i < m_names.size() && i < m_languageChoice->count(); ++i) {
        m_displayNames[i] = RDLanguage::displayName(m_names.at(i));
        m_languageChoice->setItemText(i, m_displayNames.at(i));
    }
    m_startCaption->setText(rdTr("Run at start up"));
}

void RDOptionsGenernalWidget::onLanguageChanged(int index)
{
    if (index < 0 || index >= m_names.size())
        return;
    const QString name = m_names.at(index);
    if (name == RDLanguage::currentLanguage())
        return;
    if (Sonaris* sonaris = Sonaris::instance())
        sonaris->setLanguage(name);
    RDLanguage::setLanguage(name);
}

void RDOptionsGenernalWidget::onSwitchChanged(bool checked)
{
    Sonaris* sonaris = Sonaris::instance();
    if (checked) {
        if (sonaris)
            sonaris->setAutoRun(1);
        if (!RDSystemNetwork::setAutoStart())
            RDLOG("The start at log-on could not be recorded");
    } else {
        if (!RDSystemNetwork::removeAutoStart())
            RDLOG("The start at log-on could not be removed");
        if (sonaris)
            sonaris->setAutoRun(0);
    }
}

void RDOptionsGenernalWidget::resizeEvent(QResizeEvent* event)
{
    RDToast::resizeEvent(event);
    m_languageCaption->setGeometry(10, 10, 150, 30);
    m_languageChoice->setGeometry(160, 15, 200, 20);
    m_startCaption->setGeometry(10, 50, 150, 30);
    m_startSwitch->setGeometry(160, 55, 45, 20);
}
