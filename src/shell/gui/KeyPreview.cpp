#include "shell/gui/KeyPreview.h"

#include "editions/KeyTranslation.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QWidget>

namespace velmora {

KeyPreview::KeyPreview(QWidget* window, Handler handler)
    : QObject(window), m_window(window), m_handler(std::move(handler))
{
    qApp->installEventFilter(this);
}

KeyPreview::~KeyPreview()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    if (!watched->isWidgetType())
        return false;
    auto* target = static_cast<QWidget*>(watched);
    QWidget* window = target->window();
    QWidget* control = target;
    QComboBox* openedList = nullptr;
    if (window != m_window) {
        // An opened drop-down list is a popup window of its own; its keys count for the list.
        openedList = qobject_cast<QComboBox*>(window->parentWidget());
        if (window->windowType() != Qt::Popup || !openedList || openedList->window() != m_window)
            return false;
        control = openedList;
    }
    // An ignored key event travels on to the parents; only its first receiver counts.
    QWidget* first = window->focusWidget() ? window->focusWidget() : window;
    if (target != first)
        return false;
    // The opened list chooses on Return or F4 as early as the shortcut override; there they must
    // stay keys like any other.
    if (type == QEvent::ShortcutOverride)
        return openedList != nullptr;
    return m_handler(control, static_cast<QKeyEvent*>(event));
}

int virtualKeyOf(Edition edition, const QKeyEvent* event)
{
#ifdef Q_OS_WIN
    if (event->nativeVirtualKey() != 0)
        return static_cast<int>(event->nativeVirtualKey());
#endif
    return virtualKeyFor(edition, event->nativeScanCode(), event->key());
}

}  // namespace velmora
