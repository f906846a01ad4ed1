#include "windows/gui/vostrelUnit7.h"

#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "shell/gui/Application.h"
#include "shell/gui/ScreenPlacement.h"

#include <QComboBox>

namespace velmora {

TForm7::TForm7(Application& app) : QWidget(nullptr), m_app(app)
{
    setObjectName("Form7");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(app.text(TextKey::Form7Caption)));
    const Place place = auxiliaryLayout(app.edition()).instrumentWindow;
    resize(place.width - kFrameWidth, place.height - kFrameHeight);
    move(place.left, place.top);
    keepOnScreen(*this);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(9, 16, 145, 20);
    // A list is named by its selected item; what it is for goes in the description.
    ComboBox1->setAccessibleDescription(QString::fromStdString(app.text(TextKey::A11yInstrumentList)));
    for (int program = 0; program < 128; ++program) {
        const auto name = instrumentName(program);
        ComboBox1->addItem(QString::fromUtf8(name.data(), int(name.size())));
    }
    ComboBox1->setCurrentIndex(0);
    connect(ComboBox1, &QComboBox::activated, this, &TForm7::ComboBox1Change);
}

void TForm7::ComboBox1Change(int index)
{
    if (index >= 0 && index < 128)
        m_app.port().selectInstrument(index);
}

void TForm7::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

}  // namespace velmora
