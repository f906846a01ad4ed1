#pragma once

#include "exercise/Levels.h"

#include <QWidget>

#include <array>
#include <string>

class QLabel;
class QPushButton;

namespace velmora {

class Application;

// The results window: both columns of corrections side by side, the score and four buttons.
class TForm3 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(Application& app);

    void FormCreate();
    // The close of the results window by its close box, the system menu or Alt+F4.
    void FormClose();
    void Button1Click();
    void Button2MouseDown();
    void Button2MouseUp();
    void Button2Click();
    void Button3Click();
    void Button4Click();

    void showAndRaise();

    QLabel* StaticText(int number) const { return m_fields.at(std::size_t(number - 1)); }
    QLabel* Label(int number) const { return m_labels.at(std::size_t(number - 1)); }
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;

    // The value fields hold both columns of an exercise as their displayed texts.
    std::string userField(int pitchClass) const;
    std::string exactField(int pitchClass) const;
    void setUserField(int pitchClass, const std::string& text);
    void setExactField(int pitchClass, const std::string& text);
    std::string scoreText() const;
    void setScore(const std::string& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeSteps();
    void fitLabelsToText();
    // What a reader says for row `pitchClass` and for the score, from the fields' texts.
    void describeRow(int pitchClass);
    void describeScore();
    QLabel* addLabel(int number, const QString& text, int left, int top, int width, int height);

    Application& m_app;
    std::array<QLabel*, 17> m_labels{};
    std::array<QLabel*, 24> m_fields{};
};

}  // namespace velmora
