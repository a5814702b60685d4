#include "ui/ExportHud.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <cmath>

namespace reelbox::ui {

QString percentText(double fraction) {
    const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return QStringLiteral("%1%").arg(int(std::floor(f * 100 + 1e-9)));
}

ExportHud::ExportHud(QWidget* parent)
    : QFrame(parent), m_bar(new QProgressBar), m_percent(new QLabel) {
    setObjectName(QStringLiteral("exportHud"));
    setStyleSheet(QStringLiteral("#exportHud { background: rgba(44, 44, 48, 235); "
                                 "border-radius: 10px; }"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 8);
    auto* title = new QLabel(QStringLiteral("Exporting"));
    layout->addWidget(title);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setFixedWidth(160);
    m_bar->setAccessibleName(QStringLiteral("Exporting"));
    layout->addWidget(m_bar);
    m_percent->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_percent->setFixedWidth(36);
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(m_percent);
    setProgress(0);
}

void ExportHud::setProgress(double fraction) {
    m_bar->setValue(int(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000)));
    m_percent->setText(ui::percentText(fraction));
}

QString ExportHud::percentText() const {
    return m_percent->text();
}

} // namespace reelbox::ui
