#pragma once

#include "editions/Edition.h"

#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

namespace velmora {

// Lets a window see every key event meant for it before the focused control does, as a key
// preview: the handler runs once per event, for its first receiver, and may swallow it. Keys in an
// opened drop-down list of the window reach the handler as the list's own.
class KeyPreview final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(QWidget* target, QKeyEvent* event)>;
    KeyPreview(QWidget* window, Handler handler);
    ~KeyPreview() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    Handler m_handler;
};

// The Windows virtual-key code of a key event on the edition's home keyboard.
int virtualKeyOf(Edition edition, const QKeyEvent* event);

}  // namespace velmora
