#include "shell/gui/Accessibility.h"

#include "exercise/gui/PitchSlider.h"
#include "exercise/gui/vostrelUnit3.h"
#include "shell/gui/KeyShape.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProxyStyle>

#include <algorithm>
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
        if (t == QAccessible::Value)
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

// The results window as readers meet it: a dialog whose description is the score and whose
// children are the headings, one sentence a row, the score sentence and the buttons.
class ResultsWindowAccessible final : public QAccessibleWidget {
public:
    explicit ResultsWindowAccessible(TForm3* form) : QAccessibleWidget(form, QAccessible::Dialog) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Description)
            return form()->readerDescription();
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return int(shownChildren().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const std::vector<QWidget*> children = shownChildren();
        if (index < 0 || index >= int(children.size()))
            return nullptr;
        return QAccessible::queryAccessibleInterface(children[std::size_t(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child)
            return -1;
        const std::vector<QWidget*> children = shownChildren();
        const auto at = std::find(children.begin(), children.end(), child->object());
        return at == children.end() ? -1 : int(at - children.begin());
    }

private:
    TForm3* form() const { return static_cast<TForm3*>(widget()); }
    std::vector<QWidget*> shownChildren() const
    {
        std::vector<QWidget*> shown;
        for (QObject* object : widget()->children()) {
            auto* w = qobject_cast<QWidget*>(object);
            if (w && !w->isWindow() && !w->objectName().startsWith(QLatin1String("qt_")) && form()->readerView(w).shown)
                shown.push_back(w);
        }
        return shown;
    }
};

// A label of the results window: a heading, a row's or the score's sentence, or nothing at all for
// the value fields and the score's caption pieces (the sentences say them).
class ResultsLabelAccessible final : public QAccessibleWidget {
public:
    ResultsLabelAccessible(QLabel* label, const TForm3* form) : QAccessibleWidget(label), m_form(form) {}

    // Not a label: readers read a dialog's unrelated labels in place of its description, which
    // says the score first.
    QAccessible::Role role() const override
    {
        return m_form->readerView(widget()).sentence ? QAccessible::Paragraph : QAccessible::StaticText;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return m_form->readerView(widget()).name;
        return QAccessibleWidget::text(t);
    }

private:
    const TForm3* m_form;
};

QAccessibleInterface* programInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("velmora::KeyShape"))
        return new KeyShapeAccessible(static_cast<KeyShape*>(object));
    if (className == QLatin1String("velmora::PitchSlider"))
        return new PitchSliderAccessible(static_cast<PitchSlider*>(object));
    if (className == QLatin1String("velmora::TForm3"))
        return new ResultsWindowAccessible(static_cast<TForm3*>(object));
    if (className == QLatin1String("QLabel")) {
        if (const auto* form = qobject_cast<const TForm3*>(object->parent()))
            return new ResultsLabelAccessible(static_cast<QLabel*>(object), form);
    }
    // The program's windows are plain widgets, which readers would meet as unnamed panes.
    if (className.startsWith(QLatin1String("velmora::TForm")) && object->isWidgetType()) {
        auto* window = static_cast<QWidget*>(object);
        if (window->isWindow() && !qobject_cast<QMainWindow*>(window))
            return new QAccessibleWidget(window, QAccessible::Window);
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

namespace {

class DisabledItemsReachableStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Menu_AllowActiveAndDisabled)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

void keepDisabledItemsReachable(QMenu& menu)
{
    // A widget does not own its style: the menu, as parent, does.
    auto* style = new DisabledItemsReachableStyle;
    style->setParent(&menu);
    menu.setStyle(style);
}

void renewForReaders(QWidget& window, const std::vector<QWidget*>& renewed)
{
    for (QWidget* widget : renewed) {
        if (QAccessibleInterface* old = QAccessible::queryAccessibleInterface(widget))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
        QAccessibleEvent created(widget, QAccessible::ObjectCreated);
        QAccessible::updateAccessibility(&created);
    }
    tellDescriptionChanged(window);
}

void tellDescriptionChanged(QWidget& window)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(&window, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

}  // namespace velmora
