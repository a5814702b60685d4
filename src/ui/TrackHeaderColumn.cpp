#include "ui/TrackHeaderColumn.h"

#include "edit/TakeEditorModel.h"
#include "ui/TrackHeader.h"

#include <QVBoxLayout>

#include <algorithm>

namespace reelbox::ui {

TrackHeaderColumn::TrackHeaderColumn(TakeEditorModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_column(new QVBoxLayout(this)) {
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);
    m_column->addStretch(1);
    connect(&model, &TakeEditorModel::takeChanged, this, &TrackHeaderColumn::followTracks);
    followTracks();
}

TrackHeader* TrackHeaderColumn::header(const QUuid& trackId) const {
    for (TrackHeader* h : m_headers)
        if (h->trackId() == trackId)
            return h;
    return nullptr;
}

void TrackHeaderColumn::followTracks() {
    std::vector<QUuid> ids;
    for (const Track& t : m_model.take().info.tracks)
        ids.push_back(t.id);
    std::vector<QUuid> shown;
    for (TrackHeader* h : m_headers)
        shown.push_back(h->trackId());
    if (ids == shown)
        return; // each header follows its own track
    std::vector<TrackHeader*> headers;
    for (const QUuid& id : ids) {
        TrackHeader* h = header(id);
        if (!h)
            h = new TrackHeader(m_model, id, this);
        headers.push_back(h);
    }
    for (TrackHeader* h : m_headers)
        if (std::find(headers.begin(), headers.end(), h) == headers.end()) {
            m_column->removeWidget(h);
            h->hide();
            h->deleteLater(); // its own menu may be what deleted the track
        }
    for (TrackHeader* h : headers)
        m_column->removeWidget(h);
    for (size_t i = 0; i < headers.size(); ++i) {
        m_column->insertWidget(int(i), headers[i]);
        headers[i]->show();
    }
    m_headers = std::move(headers);
}

} // namespace reelbox::ui
