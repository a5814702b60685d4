#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QKeyEvent;
class QWidget;

namespace reelbox::ui {

// The screens' shortcut letters: one application event filter that a screen installs while it
// is shown. A key pressed in the screen's window goes to the handler (true = consumed) unless
// Ctrl, Alt or Meta is held or it is typed into text entry (line edits, spin boxes, text edits,
// editable combo boxes) or a pop-up is open; keys landing on a list or a button reach the
// handler.
class KeyMonitor : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(const QKeyEvent&)>;

    // `screen` names the window whose keys are watched.
    KeyMonitor(QWidget* screen, Handler handler);
    ~KeyMonitor() override;

    void install();
    void remove();
    bool isInstalled() const { return m_installed; }

    // Whether a key with these modifiers, landing on `focus`, passes the monitor untouched.
    static bool passesThrough(Qt::KeyboardModifiers modifiers, const QWidget* focus);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_screen;
    Handler m_handler;
    bool m_installed = false;
};

} // namespace reelbox::ui
