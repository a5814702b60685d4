#pragma once

#include <QObject>

namespace reelbox {

// Sets a property's field and emits its change signal, only when the value differs.
template <class Object, class T, class Signal>
void assignAndNotify(Object* object, T& field, const T& value, Signal signal) {
    if (field == value)
        return;
    field = value;
    Q_EMIT(object->*signal)();
}

} // namespace reelbox
