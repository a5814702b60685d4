#pragma once

#include "model/Take.h"
#include "ui/SidebarItem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QThreadPool>
#include <vector>

namespace reelbox {
class TakeLibrary;
}

namespace reelbox::ui {

// The sidebar's rows: "New Recording", the "Takes" heading, then one row per take in the
// library's order (or the empty-list note). Follows the library by folder: a save or a new
// take changes or inserts rows instead of resetting, so the selection and scroll stay.
// Thumbnails load on a worker the first time a row is shown.
class SidebarModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum class RowKind { recorder, heading, take, empty };
    enum Role {
        KindRole = Qt::UserRole + 1,
        FolderRole,
        CaptionRole, // duration, then the relative creation date
        DurationRole,
        EditedRole,
        CreatedRole,
        ThumbnailRole,
    };

    explicit SidebarModel(TakeLibrary& library, QObject* parent = nullptr);
    ~SidebarModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QModelIndex indexOf(const SidebarItem& item) const;
    SidebarItem itemAt(const QModelIndex& index) const;
    // The take of a take row; null for other rows.
    const Take* takeAt(const QModelIndex& index) const;

private:
    static constexpr int firstTakeRow = 2;
    void follow();
    void requestThumbnail(const Take& take) const;
    RowKind kindOf(int row) const;

    TakeLibrary& m_library;
    std::vector<Take> m_takes;
    mutable QHash<QString, QImage> m_thumbnails;
    mutable QSet<QString> m_loading;
    mutable QThreadPool m_pool;
};

} // namespace reelbox::ui
