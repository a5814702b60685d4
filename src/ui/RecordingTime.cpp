#include "ui/RecordingTime.h"

#include "ui/Format.h"
#include "ui/Style.h"

#include <QApplication>
#include <QFontDatabase>

namespace reelbox::ui {

RecordingTime::RecordingTime(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, &RecordingTime::refresh);
    refresh();
}

void RecordingTime::setState(const RecorderState& state) {
    m_state = state;
    refresh();
}

void RecordingTime::refresh() {
    using Kind = RecorderState::Kind;
    QString text;
    QColor color(colors::secondaryText);
    QFont font = QApplication::font();
    switch (m_state.kind) {
    case Kind::idle:
        text = QStringLiteral("Press R to record");
        break;
    case Kind::countdown:
        text = QStringLiteral("Get ready…");
        break;
    case Kind::recording:
        text = formatDuration(m_state.since.msecsTo(QDateTime::currentDateTimeUtc()) / 1000.0);
        color = QColor(colors::recordRed);
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont); // digits of one width
        font.setPointSizeF(QApplication::font().pointSizeF() * 1.1);
        font.setWeight(QFont::Medium);
        break;
    case Kind::finishing:
        break;
    }
    if (m_state.kind == Kind::recording) {
        if (!m_tick.isActive())
            m_tick.start();
    } else {
        m_tick.stop();
    }
    if (font != this->font())
        setFont(font);
    if (palette().color(QPalette::WindowText) != color) {
        QPalette p = palette();
        p.setColor(QPalette::WindowText, color);
        setPalette(p);
    }
    if (text != this->text()) {
        setText(text);
        setAccessibleName(text);
    }
}

} // namespace reelbox::ui
