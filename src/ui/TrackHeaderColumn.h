#pragma once

#include <QUuid>
#include <QWidget>
#include <vector>

class QVBoxLayout;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

class TrackHeader;

// The headers of all tracks of the open take, one under the other in track order; headers come
// and go with the model's tracks.
class TrackHeaderColumn : public QWidget {
    Q_OBJECT
public:
    explicit TrackHeaderColumn(TakeEditorModel& model, QWidget* parent = nullptr);

    const std::vector<TrackHeader*>& headers() const { return m_headers; }
    // The header of a track, or null.
    TrackHeader* header(const QUuid& trackId) const;

private:
    void followTracks();

    TakeEditorModel& m_model;
    QVBoxLayout* m_column;
    std::vector<TrackHeader*> m_headers;
};

} // namespace reelbox::ui
