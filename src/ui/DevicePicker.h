#pragma once

#include <QComboBox>
#include <optional>
#include <vector>

namespace reelbox::ui {

// A device choice: one entry per device by its name, keyed by its unique id; "None found" when
// the list is empty. Named "Device".
class DevicePicker : public QComboBox {
    Q_OBJECT
public:
    struct Entry {
        QString id;
        QString name;
    };

    explicit DevicePicker(QWidget* parent = nullptr);
    void setDevices(const std::vector<Entry>& devices, const std::optional<QString>& chosen);

signals:
    // The user chose another device.
    void chosen(const QString& id);
};

} // namespace reelbox::ui
