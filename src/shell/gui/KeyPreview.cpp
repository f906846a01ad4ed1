#include "shell/gui/KeyPreview.h"

#include "editions/KeyTranslation.h"

#include <QApplication>
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
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    if (!watched->isWidgetType())
        return false;
    auto* target = static_cast<QWidget*>(watched);
    if (target->window() != m_window)
        return false;
    // An ignored key event travels on to the parents; only its first receiver counts.
    QWidget* first = m_window->focusWidget() ? m_window->focusWidget() : m_window;
    if (target != first)
        return false;
    return m_handler(target, static_cast<QKeyEvent*>(event));
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
