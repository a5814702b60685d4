#include "ui/KeyMonitor.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace reelbox::ui {

KeyMonitor::KeyMonitor(QWidget* screen, Handler handler)
    : QObject(screen), m_screen(screen), m_handler(std::move(handler)) {}

KeyMonitor::~KeyMonitor() {
    remove();
}

void KeyMonitor::install() {
    if (m_installed || !qApp)
        return;
    qApp->installEventFilter(this);
    m_installed = true;
}

void KeyMonitor::remove() {
    if (!m_installed)
        return;
    if (qApp)
        qApp->removeEventFilter(this);
    m_installed = false;
}

bool KeyMonitor::passesThrough(Qt::KeyboardModifiers modifiers, const QWidget* focus) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    if (!focus)
        return false;
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus) ||
        qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus))
        return true;
    if (const auto* combo = qobject_cast<const QComboBox*>(focus))
        return combo->isEditable();
    return false;
}

bool KeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !m_screen || !watched->isWidgetType())
        return false;
    // While a pop-up (a popover, a menu) is open, its keys are its own.
    if (QApplication::activePopupWidget())
        return false;
    // A key that bubbles up to the parents is seen once per receiver; the focus widget decides.
    const QWidget* focus = QApplication::focusWidget();
    if (!focus)
        focus = static_cast<QWidget*>(watched);
    if (focus->window() != m_screen->window() || !m_screen->isVisible())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (passesThrough(key->modifiers(), focus))
        return false;
    return m_handler && m_handler(*key);
}

} // namespace reelbox::ui
