#include "ui/PanelCard.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace reelbox::ui {

namespace {
constexpr int labelWidth = 72;
}

PanelCard::PanelCard(const QString& title, const QString& icon, QWidget* parent)
    : QFrame(parent), m_title(new QLabel(title, this)), m_detail(new QLabel(this)),
      m_rows(new QGridLayout) {
    setObjectName(QStringLiteral("panelCard"));
    setStyleSheet(QStringLiteral("#panelCard { background: #%1; border-radius: 10px; }")
                      .arg(colors::cardBackground, 6, 16, QLatin1Char('0')));
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(6);
    auto* head = new QHBoxLayout;
    head->setSpacing(6);
    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(
        tintedPixmap(icon, QColor(colors::secondaryText), 14, devicePixelRatioF()));
    head->addWidget(iconLabel);
    QFont font = m_title->font();
    font.setBold(true);
    m_title->setFont(font);
    head->addWidget(m_title);
    head->addStretch();
    m_detail->setStyleSheet(
        QStringLiteral("color: #%1").arg(colors::secondaryText, 6, 16, QLatin1Char('0')));
    m_detail->hide();
    head->addWidget(m_detail);
    layout->addLayout(head);
    m_rows->setHorizontalSpacing(8);
    m_rows->setVerticalSpacing(6);
    m_rows->setColumnMinimumWidth(0, labelWidth);
    m_rows->setColumnStretch(1, 1);
    layout->addLayout(m_rows);
    layout->addStretch();
}

void PanelCard::setDetail(const QString& detail) {
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

void PanelCard::setTitleBuddy(QWidget* control) {
    m_title->setBuddy(control);
}

void PanelCard::addRow(const QString& label, QWidget* control) {
    const int row = m_rows->rowCount();
    auto* text = new QLabel(label, this);
    text->setFixedWidth(labelWidth);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    text->setStyleSheet(
        QStringLiteral("color: #%1").arg(colors::secondaryText, 6, 16, QLatin1Char('0')));
    text->setBuddy(control);
    m_rows->addWidget(text, row, 0);
    m_rows->addWidget(control, row, 1);
}

void PanelCard::addWide(QWidget* control) {
    m_rows->addWidget(control, m_rows->rowCount(), 0, 1, 2);
}

} // namespace reelbox::ui
