#pragma once

#include <QColor>
#include <QWidget>

namespace velmora {

// One key of the drawn keyboard: a filled rectangle with a one-pixel black outline. Every mouse
// button plays; Qt's implicit grab delivers the release to the key that got the press.
class KeyShape final : public QWidget {
    Q_OBJECT
public:
    KeyShape(int note, bool black, QWidget* parent);

    int note() const { return m_note; }
    bool isBlack() const { return m_black; }
    QColor color() const { return m_color; }
    void setSounding(bool sounding);
    bool isSounding() const { return m_color != restColor(); }
    QColor restColor() const { return m_black ? Qt::black : Qt::white; }

signals:
    void mouseDown(int note);
    void mouseUp(int note);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_note;
    bool m_black;
    QColor m_color;
};

}  // namespace velmora
