#include "exercise/gui/vostrelUnit6.h"

#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "exercise/Report.h"
#include "shell/gui/Application.h"
#include "shell/gui/ScreenPlacement.h"

#include <QPlainTextEdit>

namespace velmora {

TForm6::TForm6(Application& app) : QWidget(nullptr)
{
    setObjectName("Form6");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(app.text(TextKey::Form6Caption)));
    resize(294 - kFrameWidth, 271 - kFrameHeight);
    move(751, 164);
    keepOnScreen(*this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(16, 16, 209, 161);
}

void TForm6::appendLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        m_lines.push_back(line);
        Memo1->appendPlainText(QString::fromStdString(line));
    }
}

std::string TForm6::reportText() const
{
    // The memo's own text would lose the CR of each line end; the lines are kept as written.
    return exercise::joinCrLf(m_lines);
}

}  // namespace velmora
