#include "ui/TimelineLayer.h"

#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "ui/Style.h"
#include "ui/TimelineScale.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace reelbox::ui {

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

struct Scene {
    QPainter& p;
    const TakeEditorModel& model;
    const TimelineLayout& layout;
    const TimeAxis& axis;
    const QPalette& palette;
    double height;

    const EditState& edit() const { return model.take().info.edit; }
    QColor accent() const { return palette.color(QPalette::Highlight); }
    QColor background() const { return palette.color(QPalette::Window); }
    QRectF span(const TimeSpan& s, double top, double h) const {
        return {axis.x(s.start), top, axis.x(s.end) - axis.x(s.start), h};
    }
};

void drawCards(Scene& s) {
    for (const TimelineCard& card : s.layout.cards) {
        const QRectF area(0.5, card.top + 0.5, s.axis.width - 1, card.height - 1);
        QPainterPath path;
        path.addRoundedRect(area, 10, 10);
        s.p.fillPath(path, s.palette.color(QPalette::Base));
        s.p.fillPath(path, QColor(0, 0, 0, 18));
        s.p.setPen(QPen(withAlpha(s.palette.color(QPalette::WindowText), 0.1), 1));
        s.p.drawPath(path);
    }
}

void drawRuler(Scene& s) {
    const double d = s.axis.duration;
    const auto selection = s.model.selection();
    for (const TimeSpan& part : s.edit().segments(std::nullopt, d)) {
        const QRectF area = s.span(part, 18, 12).adjusted(1, 0, -1, 0);
        QPainterPath path;
        path.addRoundedRect(area, 3, 3);
        if (selection && selection->isTimeline() && selection->span == part) {
            s.p.fillPath(path, withAlpha(s.accent(), 0.35));
            s.p.setPen(QPen(s.accent(), 2));
            s.p.drawPath(path);
        } else {
            s.p.fillPath(path, withAlpha(s.palette.color(QPalette::WindowText), 0.08));
        }
    }
    if (d <= 0)
        return;
    const double step = rulerLabelStep(d, s.axis.usableWidth());
    QFont font = s.p.font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.8));
    s.p.setFont(font);
    s.p.setPen(QColor(colors::secondaryText));
    for (double t = 0; t <= d + 1e-9; t += step) {
        const double x = s.axis.x(t);
        s.p.drawLine(QPointF(x, 2), QPointF(x, 16));
        s.p.drawText(QPointF(x + 3, 13), rulerLabel(t));
    }
}

void drawFilmstrip(Scene& s, const std::vector<QImage>& frames, const TimeSpan& span,
                   const QRectF& row) {
    if (frames.empty() || span.length() <= 0)
        return;
    const QRectF area = s.span(span, row.top() + 4, row.height() - 8);
    const double width = area.width() / double(frames.size());
    s.p.save();
    s.p.setClipRect(row);
    for (std::size_t i = 0; i < frames.size(); ++i)
        s.p.drawImage(QRectF(area.left() + width * double(i), area.top(), width, area.height()),
                      frames[i]);
    s.p.restore();
}

bool isAudible(const TakeInfo& info, const Track& track) {
    const bool anySolo =
        std::any_of(info.tracks.begin(), info.tracks.end(), [](const Track& t) { return t.solo; });
    return !track.muted && (!anySolo || track.solo);
}

void drawWaveform(Scene& s, const Track& track, const QColor& color, const QRectF& row) {
    QFont font = s.p.font();
    font.setWeight(QFont::DemiBold);
    s.p.setFont(font);
    s.p.setPen(QColor(colors::secondaryText));
    s.p.drawText(QRectF(row.left() + 18, row.top() + 4, row.width() - 36, 14),
                 Qt::AlignLeft | Qt::AlignVCenter, track.name);
    const auto found = s.model.waveforms().find(track.id);
    if (found == s.model.waveforms().end())
        return;
    const QRectF shape(TimeAxis::inset, row.top() + 18, s.axis.usableWidth(), row.height() - 24);
    const QColor bar = isAudible(s.model.take().info, track)
                           ? withAlpha(color, 0.85)
                           : withAlpha(QColor(colors::secondaryText), 0.35);
    const double mid = shape.center().y();
    // Bars are axis-aligned rectangles: no antialiasing.
    s.p.setRenderHint(QPainter::Antialiasing, false);
    for (const WaveformBar& b :
         waveformBars(found->second, s.axis.duration, shape.width(), shape.height()))
        s.p.fillRect(QRectF(shape.left() + b.x, mid - b.halfHeight, 1.5, 2 * b.halfHeight), bar);
    s.p.setRenderHint(QPainter::Antialiasing, true);
}

void drawSplitMarker(Scene& s, double x, double top, double bottom) {
    s.p.setPen(QPen(QColor(0, 0, 0, 153), 3.5));
    s.p.drawLine(QPointF(x, top), QPointF(x, bottom));
    s.p.setPen(QPen(Qt::white, 2));
    s.p.drawLine(QPointF(x, top), QPointF(x, bottom));
}

void drawLane(Scene& s, const TimelineRow& row, const QRectF& area) {
    const TakeInfo& info = s.model.take().info;
    const QColor color = groupColor(row.group, s.palette);
    switch (row.lane.kind) {
    case Lane::Kind::mainVideo:
        drawFilmstrip(s, s.model.filmstrip(), groupSpan(info, row.group, s.model.mainDuration()),
                      area);
        break;
    case Lane::Kind::overdubVideo: {
        const auto found = s.model.overdubFilmstrips().find(row.lane.id);
        if (found != s.model.overdubFilmstrips().end())
            drawFilmstrip(s, found->second, groupSpan(info, row.group, s.model.mainDuration()),
                          area);
        break;
    }
    case Lane::Kind::audio:
        if (const Track* track = s.model.track(row.lane.id))
            drawWaveform(s, *track, color, area);
        break;
    }
    for (const TimeSpan& hidden : s.edit().hiddenParts(row.lane))
        s.p.fillRect(s.span(hidden, area.top(), area.height()), withAlpha(s.background(), 0.75));
    const auto own = s.edit().laneSplits.find(row.lane.key());
    if (own != s.edit().laneSplits.end())
        for (const double t : own->second)
            drawSplitMarker(s, s.axis.x(t), area.top(), area.bottom());
    if (const auto part = selectedPart(s.model.selection(), row.lane)) {
        const QRectF box = s.span(*part, area.top() + 3, area.height() - 6);
        s.p.fillRect(box, withAlpha(s.accent(), 0.14));
        QPen dashed(s.accent(), 2.5);
        dashed.setDashPattern({10 / 2.5, 10 / 2.5}); // dash lengths are in pen widths
        s.p.setPen(dashed);
        s.p.setBrush(Qt::NoBrush);
        s.p.drawRect(box);
    }
}

void drawSpanBar(Scene& s, const TimelineCard& card) {
    const TimeSpan span = groupSpan(s.model.take().info, card.group, s.model.mainDuration());
    if (span.length() <= 0)
        return;
    QPainterPath path;
    path.addRoundedRect(s.span(span, card.top + 2, 4), 2, 2);
    s.p.fillPath(path, withAlpha(groupColor(card.group, s.palette), 0.35));
}

void drawRemoved(Scene& s) {
    const double d = s.axis.duration;
    const EditState& edit = s.edit();
    const double in = std::clamp(edit.inPoint, 0.0, d);
    const double out = std::clamp(edit.outPoint.value_or(d), in, d);
    const QColor veil = withAlpha(s.background(), 0.78);
    const QPen edge(QColor(colors::recordRed), 1.5);
    auto veilSpan = [&](double left, double right) {
        s.p.fillRect(QRectF(left, 0, right - left, s.height), veil);
    };
    auto edgeAt = [&](double x) {
        s.p.setPen(edge);
        s.p.drawLine(QPointF(x, 0), QPointF(x, s.height));
    };
    if (in > 0) {
        veilSpan(0, s.axis.x(in));
        edgeAt(s.axis.x(in));
    }
    if (out < d) {
        veilSpan(s.axis.x(out), s.axis.width);
        edgeAt(s.axis.x(out));
    }
    for (const TimeSpan& cut : EditState::merged(edit.cuts)) {
        veilSpan(s.axis.x(cut.start), s.axis.x(cut.end));
        edgeAt(s.axis.x(cut.start));
        edgeAt(s.axis.x(cut.end));
    }
}

void drawTrimFrame(Scene& s) {
    const double d = s.axis.duration;
    const double inX = s.axis.x(std::clamp(s.edit().inPoint, 0.0, d));
    const double outX = s.axis.x(std::clamp(s.edit().outPoint.value_or(d), 0.0, d));
    const QColor yellow(0xffcc00);
    s.p.setBrush(Qt::NoBrush);
    s.p.setPen(QPen(yellow, 2.5));
    s.p.drawRect(QRectF(inX, 1.25, outX - inX, s.height - 2.5));
    const double mid = TimelineLayout::rulerHeight / 2;
    for (const double left : {inX - 6, outX - 6}) {
        QPainterPath handle;
        handle.addRoundedRect(QRectF(left, 0, 12, s.height), 3, 3);
        s.p.fillPath(handle, yellow);
        s.p.setPen(QPen(QColor(0, 0, 0, 178), 1.5));
        s.p.drawLine(QPointF(left + 6, mid - 8), QPointF(left + 6, mid + 8));
    }
}

} // namespace

QColor groupColor(const Group& group, const QPalette& palette) {
    return group.kind == Group::Kind::take ? palette.color(QPalette::Highlight)
                                           : QColor(overdubPurple);
}

void drawTimelineLayer(QPainter& painter, const TakeEditorModel& model,
                       const TimelineLayout& layout, const TimeAxis& axis,
                       const QPalette& palette) {
    Scene s{painter, model, layout, axis, palette, layout.height};
    painter.setRenderHint(QPainter::Antialiasing, true);
    drawCards(s);
    drawRuler(s);
    for (std::size_t i = 0; i < layout.rows.size(); ++i) {
        const TimelineRow& row = layout.rows[i];
        if (row.kind == TimelineRow::Kind::lane)
            drawLane(s, row, QRectF(0, layout.tops[i], axis.width, row.height()));
    }
    for (const TimelineCard& card : layout.cards)
        drawSpanBar(s, card);
    drawRemoved(s);
    drawTrimFrame(s);
    for (const double t : model.take().info.edit.splits)
        if (t > 0 && t < axis.duration)
            drawSplitMarker(s, axis.x(t), 0, layout.height);
}

} // namespace reelbox::ui
