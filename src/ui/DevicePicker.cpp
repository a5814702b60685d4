#include "ui/DevicePicker.h"

#include <QSignalBlocker>

namespace reelbox::ui {

DevicePicker::DevicePicker(QWidget* parent) : QComboBox(parent) {
    setAccessibleName(QStringLiteral("Device"));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(16);
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QString id = itemData(index).toString();
        if (!id.isEmpty())
            emit chosen(id);
    });
}

void DevicePicker::setDevices(const std::vector<Entry>& devices,
                              const std::optional<QString>& chosen) {
    const QSignalBlocker block(this);
    clear();
    for (const Entry& device : devices)
        addItem(device.name, device.id);
    if (devices.empty())
        addItem(QStringLiteral("None found"));
    const int at = chosen ? findData(*chosen) : -1;
    setCurrentIndex(at >= 0 ? at : 0);
}

} // namespace reelbox::ui
