#include "shell/gui/Accessibility.h"

#include "exercise/gui/PitchSlider.h"
#include "shell/gui/KeyShape.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QMainWindow>

#include <cmath>

namespace velmora {
namespace {

// A key of the drawn keyboard: a button that is pressed while it sounds.
class KeyShapeAccessible final : public QAccessibleWidget {
public:
    explicit KeyShapeAccessible(KeyShape* key) : QAccessibleWidget(key, QAccessible::Button) {}

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = static_cast<const KeyShape*>(widget())->isSounding();
        return s;
    }
};

// A slider of the adjustment window, its value in cents rather than in steps.
class PitchSliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit PitchSliderAccessible(PitchSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        // The value's words go out as the description too: AT-SPI carries no value text of its own.
        if (t == QAccessible::Value || (t == QAccessible::Description && widget()->accessibleDescription().isEmpty()))
            return slider()->valueText();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return slider()->cents(); }
    void setCurrentValue(const QVariant& value) override
    {
        const double steps = value.toDouble() / slider()->centsPerStep();
        slider()->setValue(static_cast<int>(std::lround(steps)));
    }
    QVariant maximumValue() const override { return slider()->maximum() * slider()->centsPerStep(); }
    QVariant minimumValue() const override { return slider()->minimum() * slider()->centsPerStep(); }
    QVariant minimumStepSize() const override { return slider()->centsPerStep(); }

private:
    PitchSlider* slider() const { return static_cast<PitchSlider*>(widget()); }
};

QAccessibleInterface* programInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("velmora::KeyShape"))
        return new KeyShapeAccessible(static_cast<KeyShape*>(object));
    if (className == QLatin1String("velmora::PitchSlider"))
        return new PitchSliderAccessible(static_cast<PitchSlider*>(object));
    // The program's windows are plain widgets, which readers would meet as unnamed panes.
    if (className.startsWith(QLatin1String("velmora::TForm")) && object->isWidgetType()) {
        auto* window = static_cast<QWidget*>(object);
        if (window->isWindow() && !qobject_cast<QMainWindow*>(window)) {
            // The results window is a dialog in both editions, whatever frame the English one has.
            const bool dialog = className == QLatin1String("velmora::TForm3");
            return new QAccessibleWidget(window, dialog ? QAccessible::Dialog : QAccessible::Window);
        }
    }
    return nullptr;
}

}  // namespace

AccessibleInterfaces::AccessibleInterfaces()
{
    QAccessible::installFactory(programInterface);
}

AccessibleInterfaces::~AccessibleInterfaces()
{
    QAccessible::removeFactory(programInterface);
}

}  // namespace velmora
