#include "ui/ExportToast.h"

#include "ui/Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace reelbox::ui {

namespace {
constexpr int visibleMs = 8000;
}

ExportToast::ExportToast(QWidget* parent) : QFrame(parent), m_message(new QLabel) {
    setObjectName(QStringLiteral("exportToast"));
    setStyleSheet(QStringLiteral("#exportToast { background: rgba(44, 44, 48, 235); "
                                 "border-radius: 10px; }"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 8);
    auto* check = new QLabel;
    check->setPixmap(
        tintedPixmap(QStringLiteral("emblem-ok"), QColor(0x34c759), 18, devicePixelRatioF()));
    layout->addWidget(check);
    layout->addWidget(m_message);
    auto* reveal = new QPushButton(QStringLiteral("Show in File Manager"));
    reveal->setFlat(true);
    reveal->setToolTip(QStringLiteral("Show in File Manager"));
    layout->addWidget(reveal);
    auto* close = new QToolButton;
    close->setIcon(tintedIcon(QStringLiteral("window-close"), QColor(0xd0d0d4)));
    close->setAutoRaise(true);
    close->setAccessibleName(QStringLiteral("Close"));
    close->setToolTip(QStringLiteral("Close"));
    layout->addWidget(close);
    m_timer.setSingleShot(true);
    m_timer.setInterval(visibleMs);
    connect(&m_timer, &QTimer::timeout, this, &ExportToast::dismiss);
    connect(close, &QToolButton::clicked, this, &ExportToast::dismiss);
    connect(reveal, &QPushButton::clicked, this, [this] { emit revealRequested(m_path); });
    hide();
}

void ExportToast::present(const QString& message, const QString& path) {
    m_message->setText(message);
    m_path = path;
    adjustSize();
    show();
    raise();
    m_timer.start();
}

void ExportToast::dismiss() {
    m_timer.stop();
    hide();
}

QString ExportToast::message() const {
    return m_message->text();
}

} // namespace reelbox::ui
