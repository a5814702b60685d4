#include "ui/TakeCommands.h"

#include "model/TakeLibrary.h"
#include "platform/Reveal.h"

#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace reelbox::ui {

TakeCommands::TakeCommands(TakeLibrary& library, QWidget* window)
    : QObject(window), m_library(library), m_window(window) {}

void TakeCommands::tell(const QString& title, const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TakeCommands::reveal(const Take& take) {
    if (!revealInFileManager(take.moviePath()))
        tell(QStringLiteral("Show in File Manager"),
             QStringLiteral("No file manager could be opened. The take is in %1")
                 .arg(QDir::toNativeSeparators(take.folder)));
}

void TakeCommands::rename(const Take& take) {
    auto* dialog = new QInputDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("renameTake"));
    dialog->setWindowTitle(QStringLiteral("Rename Take"));
    dialog->setLabelText(QStringLiteral("Name"));
    dialog->setTextValue(take.info.name);
    dialog->setOkButtonText(QStringLiteral("Rename"));
    dialog->setCancelButtonText(QStringLiteral("Cancel"));
    if (auto* field = dialog->findChild<QLineEdit*>())
        field->setAccessibleName(QStringLiteral("Name"));
    const QString folder = take.folder;
    connect(dialog, &QInputDialog::textValueSelected, this, [this, folder](const QString& name) {
        for (const Take& t : m_library.takes())
            if (t.folder == folder) {
                m_library.rename(t, name);
                return;
            }
    });
    dialog->open();
}

void TakeCommands::trash(const Take& take) {
    if (!m_library.trash(take))
        tell(QStringLiteral("Move to Trash"),
             QStringLiteral("“%1” couldn't be moved to the Trash, so it stays in %2.")
                 .arg(take.info.name, QDir::toNativeSeparators(take.folder)));
}

} // namespace reelbox::ui
