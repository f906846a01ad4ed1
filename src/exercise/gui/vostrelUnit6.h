#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QPlainTextEdit;

namespace velmora {

class Application;

// Never shown: its text field is the buffer the result reports grow in.
class TForm6 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm6(Application& app);

    void appendLines(const std::vector<std::string>& lines);
    // The whole buffer, every line ended by CR LF.
    std::string reportText() const;

    QPlainTextEdit* Memo1 = nullptr;

private:
    std::vector<std::string> m_lines;
};

}  // namespace velmora
