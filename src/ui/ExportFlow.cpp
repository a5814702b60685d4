#include "ui/ExportFlow.h"

#include "edit/TakeEditorModel.h"
#include "platform/Reveal.h"
#include "ui/ExportHud.h"
#include "ui/ExportToast.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>

namespace reelbox::ui {

QString saveFilter(ExportSettings::Format format) {
    return format == ExportSettings::Format::audio ? QStringLiteral("MPEG-4 audio (*.m4a)")
                                                   : QStringLiteral("MPEG-4 movie (*.mp4)");
}

QString saveStartFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

ExportFlow::ExportFlow(TakeEditorModel& model, QWidget* window, ExportHud& hud, ExportToast& toast)
    : QObject(window), m_model(model), m_window(window), m_hud(hud), m_toast(toast),
      m_chooser([](QWidget* parent, const QString& suggested, const QString& filter) {
          return QFileDialog::getSaveFileName(parent, QStringLiteral("Save"), suggested, filter);
      }),
      m_reveal(&revealInFileManager) {
    connect(&model, &TakeEditorModel::exportProgressChanged, this, &ExportFlow::showProgress);
    connect(&toast, &ExportToast::revealRequested, this, &ExportFlow::reveal);
    showProgress();
}

void ExportFlow::showProgress() {
    const auto progress = m_model.exportProgress();
    m_hud.setVisible(progress.has_value());
    if (progress) {
        m_hud.setProgress(*progress);
        m_hud.adjustSize();
        m_hud.raise();
    }
}

void ExportFlow::save() {
    const QString suggested = QDir(saveStartFolder()).filePath(m_model.suggestedFileName());
    const QString path =
        m_chooser(m_window, suggested, saveFilter(m_model.exportSettings().format));
    if (path.isEmpty())
        return;
    m_model.exportTo(path, [path, toast = QPointer<ExportToast>(&m_toast)](bool ok) {
        if (ok && toast)
            toast->present(QStringLiteral("Saved ") + QFileInfo(path).fileName(), path);
    });
}

void ExportFlow::share() {
    m_model.exportForSharing([self = QPointer<ExportFlow>(this)](std::optional<QString> path) {
        if (!path || !self)
            return;
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(*path)});
        data->setText(*path);
        QApplication::clipboard()->setMimeData(data); // the clipboard owns it
        self->reveal(*path);
        self->m_toast.present(
            QStringLiteral("Ready to share: %1 (copied)").arg(QFileInfo(*path).fileName()), *path);
    });
}

void ExportFlow::reveal(const QString& path) {
    if (m_reveal && m_reveal(path))
        return;
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Show in File Manager"),
                                QStringLiteral("No file manager could be opened. The file is %1")
                                    .arg(QDir::toNativeSeparators(path)),
                                QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace reelbox::ui
