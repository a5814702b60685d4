#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;

namespace reelbox::ui {

// While an export runs: "Exporting", a bar 160 wide and the percentage ("NN%").
class ExportHud : public QFrame {
    Q_OBJECT
public:
    explicit ExportHud(QWidget* parent = nullptr);

    // 0 … 1.
    void setProgress(double fraction);
    QString percentText() const;

private:
    QProgressBar* m_bar;
    QLabel* m_percent;
};

// "NN%" for a fraction 0 … 1, whole percent, truncated and clamped.
QString percentText(double fraction);

} // namespace reelbox::ui
