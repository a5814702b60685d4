#include "ui/ValueAccessible.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QWidget>

namespace reelbox::ui {

namespace {

class ValueAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    ValueAccessible(QWidget* widget, ValueControl* control)
        : QAccessibleWidget(widget, control->accessibleRole()), m_control(control) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return m_control->accessibleValueText();
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return m_control->accessibleValue(); }
    void setCurrentValue(const QVariant& value) override {
        m_control->setAccessibleValue(value.toDouble());
    }
    QVariant maximumValue() const override { return m_control->accessibleMaximum(); }
    QVariant minimumValue() const override { return m_control->accessibleMinimum(); }
    QVariant minimumStepSize() const override { return m_control->accessibleStep(); }

private:
    ValueControl* m_control;
};

QAccessibleInterface* valueFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    auto* control = dynamic_cast<ValueControl*>(object);
    // Only for the class itself, so its own class answers before a Qt base class could.
    if (!widget || !control || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    return new ValueAccessible(widget, control);
}

} // namespace

void installValueAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(valueFactory);
        return true;
    }();
    (void)installed;
}

void announceValueChange(QWidget* control, double value) {
    QAccessibleValueChangeEvent event(control, value);
    QAccessible::updateAccessibility(&event);
}

} // namespace reelbox::ui
