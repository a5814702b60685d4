#pragma once

#include <QFrame>
#include <QTimer>

class QLabel;
class QPushButton;

namespace reelbox::ui {

// After an export: a green check, "Saved NAME" (or another message), "Show in File Manager"
// and a close button. It goes by itself after 8 seconds.
class ExportToast : public QFrame {
    Q_OBJECT
public:
    explicit ExportToast(QWidget* parent = nullptr);

    // Shows `message` about the file at `path` and starts the 8 s until it goes.
    void present(const QString& message, const QString& path);
    void dismiss();
    QString message() const;
    const QString& path() const { return m_path; }

signals:
    // "Show in File Manager" for the file.
    void revealRequested(const QString& path);

private:
    QLabel* m_message;
    QString m_path;
    QTimer m_timer;
};

} // namespace reelbox::ui
