#pragma once

#include "exercise/Levels.h"

#include <QWidget>

#include <array>
#include <string>
#include <vector>

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

    // What screen readers get of this window. While it is hidden, no values: no row or score
    // sentence and no description. The value fields and the score's caption pieces are never
    // theirs: each row and the score are said as one sentence instead.
    struct ReaderView {
        bool shown = true;      // in the readers' tree
        bool sentence = false;  // a row or the score
        QString name;
    };
    ReaderView readerView(const QWidget* child) const;
    // The score sentence while the window shows, said first when it opens.
    QString readerDescription() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeSteps();
    void fitLabelsToText();
    // Readers are told that row `pitchClass`'s sentence changed (only while they can read it).
    void describeRow(int pitchClass);
    std::vector<QWidget*> sentenceLabels() const;
    QLabel* addLabel(int number, const QString& text, int left, int top, int width, int height);

    Application& m_app;
    std::array<QLabel*, 17> m_labels{};
    std::array<QLabel*, 24> m_fields{};
};

}  // namespace velmora
