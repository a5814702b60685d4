#pragma once

#include <QFrame>

class QGridLayout;
class QLabel;

namespace reelbox::ui {

// A titled group in the recorder bar: an icon and title, an optional detail line, then rows of
// a right-aligned 72-wide label and a control (the label names the control).
class PanelCard : public QFrame {
    Q_OBJECT
public:
    PanelCard(const QString& title, const QString& icon, QWidget* parent = nullptr);

    void setDetail(const QString& detail);
    // The title names this control (for a control shown without a label of its own).
    void setTitleBuddy(QWidget* control);
    // A labelled row; an empty label leaves the label column blank.
    void addRow(const QString& label, QWidget* control);
    // A control across both columns.
    void addWide(QWidget* control);

private:
    QLabel* m_title;
    QLabel* m_detail;
    QGridLayout* m_rows;
};

} // namespace reelbox::ui
