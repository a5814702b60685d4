#include "ui/SidebarModel.h"

#include "audio/Filmstrip.h"
#include "model/TakeLibrary.h"
#include "platform/Background.h"
#include "ui/Format.h"

namespace reelbox::ui {

SidebarModel::SidebarModel(TakeLibrary& library, QObject* parent)
    : QAbstractListModel(parent), m_library(library), m_takes(library.takes()) {
    m_pool.setMaxThreadCount(2);
    connect(&library, &TakeLibrary::takesChanged, this, &SidebarModel::follow);
}

SidebarModel::~SidebarModel() {
    m_pool.clear();
    m_pool.waitForDone();
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : firstTakeRow + int(std::max<size_t>(m_takes.size(), 1));
}

SidebarModel::RowKind SidebarModel::kindOf(int row) const {
    if (row == 0)
        return RowKind::recorder;
    if (row == 1)
        return RowKind::heading;
    return m_takes.empty() ? RowKind::empty : RowKind::take;
}

const Take* SidebarModel::takeAt(const QModelIndex& index) const {
    if (!index.isValid() || kindOf(index.row()) != RowKind::take)
        return nullptr;
    const size_t i = size_t(index.row() - firstTakeRow);
    return i < m_takes.size() ? &m_takes[i] : nullptr;
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RowKind kind = kindOf(index.row());
    if (role == KindRole)
        return int(kind);
    const Take* take = takeAt(index);
    if (!take) {
        if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
            return {};
        switch (kind) {
        case RowKind::recorder:
            return QStringLiteral("New Recording");
        case RowKind::heading:
            return QStringLiteral("Takes");
        default: // nothing until the library was read
            return m_library.isRead() ? QStringLiteral("Your recordings will show up here.")
                                      : QString();
        }
    }
    const TakeInfo& info = take->info;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return info.name;
    case Qt::AccessibleDescriptionRole:
    case Qt::ToolTipRole:
    case CaptionRole:
        return QStringLiteral("%1%2 · %3")
            .arg(formatDuration(keptDuration(info)),
                 isEdited(info.edit) ? QStringLiteral(", edited") : QString(),
                 relativeDate(info.createdAt, QDateTime::currentDateTime()));
    case DurationRole:
        return formatDuration(keptDuration(info));
    case EditedRole:
        return isEdited(info.edit);
    case CreatedRole:
        return relativeDate(info.createdAt, QDateTime::currentDateTime());
    case FolderRole:
        return take->folder;
    case ThumbnailRole: {
        const auto found = m_thumbnails.constFind(take->folder);
        if (found != m_thumbnails.constEnd())
            return *found;
        requestThumbnail(*take);
        return {};
    }
    default:
        return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    const RowKind kind = kindOf(index.row());
    if (kind == RowKind::recorder || kind == RowKind::take)
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return Qt::NoItemFlags; // the heading and the note: the arrow keys pass over them
}

QModelIndex SidebarModel::indexOf(const SidebarItem& item) const {
    if (item.kind == SidebarItem::Kind::recorder)
        return index(0);
    if (item.kind == SidebarItem::Kind::take)
        for (size_t i = 0; i < m_takes.size(); ++i)
            if (m_takes[i].folder == item.folder)
                return index(firstTakeRow + int(i));
    return {};
}

SidebarItem SidebarModel::itemAt(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    if (kindOf(index.row()) == RowKind::recorder)
        return SidebarItem::recorder();
    if (const Take* take = takeAt(index))
        return SidebarItem::take(take->folder);
    return {};
}

void SidebarModel::follow() {
    const std::vector<Take>& next = m_library.takes();
    if (m_takes.empty() && next.empty()) { // the note, once the library was read
        emit dataChanged(index(firstTakeRow), index(firstTakeRow));
        return;
    }
    QSet<QString> nextFolders, shown;
    for (const Take& take : next)
        nextFolders.insert(take.folder);
    // Takes gone from the library, from the end.
    for (size_t i = m_takes.size(); i-- > 0;) {
        if (nextFolders.contains(m_takes[i].folder)) {
            shown.insert(m_takes[i].folder);
            continue;
        }
        const int row = firstTakeRow + int(i);
        if (m_takes.size() == 1) { // the last take makes way for the empty-list note
            m_takes.clear();
            emit dataChanged(index(row), index(row));
            continue;
        }
        beginRemoveRows({}, row, row);
        m_takes.erase(m_takes.begin() + qsizetype(i));
        endRemoveRows();
    }
    // New and changed takes; the library keeps its order, so the rest stay in place.
    for (size_t j = 0; j < next.size(); ++j) {
        const int row = firstTakeRow + int(j);
        if (j < m_takes.size() && m_takes[j].folder == next[j].folder) {
            if (!(m_takes[j] == next[j])) {
                m_takes[j] = next[j];
                emit dataChanged(index(row), index(row));
            }
        } else if (!shown.contains(next[j].folder)) {
            if (m_takes.empty()) { // the empty-list note becomes this take
                m_takes.push_back(next[j]);
                shown.insert(next[j].folder);
                emit dataChanged(index(row), index(row));
                continue;
            }
            beginInsertRows({}, row, row);
            m_takes.insert(m_takes.begin() + qsizetype(j), next[j]);
            endInsertRows();
            shown.insert(next[j].folder);
        } else { // reordered: start over
            beginResetModel();
            m_takes = next;
            endResetModel();
            return;
        }
    }
}

void SidebarModel::requestThumbnail(const Take& take) const {
    if (m_loading.contains(take.folder))
        return;
    m_loading.insert(take.folder);
    auto* self = const_cast<SidebarModel*>(this);
    runInBackground(
        &m_pool, self,
        [take] {
            std::optional<QImage> image;
            try {
                image = Filmstrip::ensureThumbnail(take);
            } catch (...) {
            }
            return image.value_or(QImage());
        },
        [self, folder = take.folder](QImage image) {
            if (image.isNull())
                return; // stays a placeholder; m_loading keeps it from being asked again
            self->m_thumbnails.insert(folder, image);
            const QModelIndex at = self->indexOf(SidebarItem::take(folder));
            if (at.isValid())
                emit self->dataChanged(at, at, {ThumbnailRole});
        });
}

} // namespace reelbox::ui
