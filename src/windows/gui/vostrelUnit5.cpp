#include "windows/gui/vostrelUnit5.h"

#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "shell/gui/Application.h"
#include "shell/gui/ScreenPlacement.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

namespace velmora {

TForm5::TForm5(Application& app) : QWidget(nullptr), m_app(app)
{
    setObjectName("Form5");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromStdString(app.text(TextKey::Form5Caption)));
    const AuxiliaryLayout layout = auxiliaryLayout(app.edition());
    resize(layout.difficultyWindow.width - kFrameWidth, layout.difficultyWindow.height - kFrameHeight);
    move(layout.difficultyWindow.left, layout.difficultyWindow.top);
    keepOnScreen(*this);

    RadioGroup1 = new QGroupBox(QString::fromStdString(app.text(TextKey::Form5RadioGroup1Caption)), this);
    RadioGroup1->setObjectName("RadioGroup1");
    RadioGroup1->setGeometry(layout.radioGroup.left, layout.radioGroup.top, layout.radioGroup.width,
                             layout.radioGroup.height);
    m_group = new QButtonGroup(this);
    const int rowHeight = (layout.radioGroup.height - 20) / 4;
    for (int i = 0; i < 4; ++i) {
        auto* button = new QRadioButton(QString::fromStdString(app.text(difficultyItemKey(i))), RadioGroup1);
        button->setObjectName(QStringLiteral("Item%1").arg(i));
        button->setGeometry(4, 16 + i * rowHeight, layout.radioGroup.width - 6, rowHeight);
        m_group->addButton(button, i);
        m_items[std::size_t(i)] = button;
    }
    m_items[0]->setChecked(true);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) {
        // Only a change of the selected level counts as a click of the group.
        if (id != m_itemIndex) {
            m_itemIndex = id;
            RadioGroup1Click();
        }
    });
}

void TForm5::FormCreate()
{
    if (!m_app.noMidiDevice())
        m_app.newExercise();
}

void TForm5::RadioGroup1Click()
{
    m_app.newExercise();
}

void TForm5::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

}  // namespace velmora
