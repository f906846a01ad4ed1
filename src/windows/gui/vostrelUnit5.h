#pragma once

#include <QWidget>

#include <array>

class QButtonGroup;
class QGroupBox;
class QRadioButton;

namespace velmora {

class Application;

// The difficulty window: four levels; a change of level starts a new exercise at once.
class TForm5 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(Application& app);
    void FormCreate();
    void RadioGroup1Click();
    void showAndRaise();

    int itemIndex() const { return m_itemIndex; }
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* item(int index) const { return m_items.at(std::size_t(index)); }

private:
    Application& m_app;
    QButtonGroup* m_group = nullptr;
    std::array<QRadioButton*, 4> m_items{};
    int m_itemIndex = 0;
};

}  // namespace velmora
