#include "exercise/gui/vostrelUnit3.h"

#include "editions/AccessibleText.h"
#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "exercise/Report.h"
#include "exercise/Scoring.h"
#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit6.h"
#include "platform/Clock.h"
#include "platform/Services.h"
#include "shell/gui/Application.h"
#include "shell/gui/MouseSteps.h"
#include "shell/gui/ScreenPlacement.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace velmora {

TForm3::TForm3(Application& app) : QWidget(nullptr), m_app(app)
{
    setObjectName("Form3");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(m_app.text(TextKey::Form3Caption)));
    setWindowIcon(QIcon(QStringLiteral(":/japanese/MainIcon.png")));
    const ResultsLayout layout = resultsLayout(m_app.edition());
    if (layout.resizable) {
        setWindowFlags(Qt::Window);
        resize(layout.outerWidth - kFrameWidth, layout.outerHeight - kFrameHeight);
    } else {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                       | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
        setFixedSize(278, 487);
    }
    move(layout.left, layout.top);
    keepOnScreen(*this);

    addLabel(1, QString::fromStdString(m_app.text(TextKey::Form3Label1Caption)), layout.label1.left,
             layout.label1.top, layout.label1.width, 12);
    addLabel(2, QString::fromStdString(m_app.text(TextKey::Form3Label2Caption)), layout.label2.left,
             layout.label2.top, layout.label2.width, 12);
    for (int k = 0; k < exercise::kPitchClasses; ++k) {
        const auto name = pitchClassLabel(k);
        addLabel(3 + k, QString::fromUtf8(name.data(), int(name.size())), 16, 48 + 24 * k, 40, 12);
    }
    const QString zero = QString::fromStdString(m_app.text(TextKey::Form3StaticTextCaption));
    for (int n = 1; n <= 24; ++n) {
        auto* field = new QLabel(zero, this);
        field->setObjectName(QStringLiteral("StaticText%1").arg(n));
        field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->setFocusPolicy(Qt::NoFocus);
        const int row = (n - 1) % 12;
        field->setGeometry(n <= 12 ? 80 : 192, 48 + 24 * row, 25, 16);
        m_fields[std::size_t(n - 1)] = field;
    }

    QFont big = font();
    big.setPixelSize(27);
    QLabel* label15 = addLabel(15, QString::fromStdString(m_app.text(TextKey::Form3Label15Caption)),
                               layout.label15.left, layout.label15.top, layout.label15.width, 27);
    label15->setFont(big);
    QLabel* label16 = addLabel(16, QString::fromStdString(m_app.text(TextKey::Form3Label16Caption)),
                               layout.label16.left, layout.label16.top, 51, 33);
    QFont score = font();
    score.setPixelSize(33);
    label16->setFont(score);
    QPalette red = label16->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label16->setPalette(red);
    QLabel* label17 = addLabel(17, QString::fromStdString(m_app.text(TextKey::Form3Label17Caption)),
                               layout.label17.left, layout.label17.top, layout.label17.width, 27);
    label17->setFont(big);
    fitLabelsToText();

    auto button = [this](const char* name, TextKey key, int left, int top, int width) {
        auto* b = new QPushButton(QString::fromStdString(m_app.text(key)), this);
        b->setObjectName(name);
        b->setGeometry(left, top, width, 25);
        return b;
    };
    Button3 = button("Button3", TextKey::Form3Button3Caption, 32, 392, 201);
    Button4 = button("Button4", TextKey::Form3Button4Caption, 32, 424, 201);
    Button4->setToolTip(QString::fromStdString(m_app.text(TextKey::Form3Button4Hint)));
    Button2 = button("Button2", TextKey::Form3Button2Caption, 32, 456, 97);
    Button1 = button("Button1", TextKey::Form3Button1Caption, 136, 456, 97);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    Button1->setFocus();

    for (int i = 0; i < exercise::kPitchClasses; ++i)
        describeRow(i);
    describeScore();

    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm3::Button4Click);
    Button2->installEventFilter(this);
}

QLabel* TForm3::addLabel(int number, const QString& text, int left, int top, int width, int height)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("Label%1").arg(number));
    label->setGeometry(left, top, width, height);
    m_labels[std::size_t(number - 1)] = label;
    return label;
}

void TForm3::fitLabelsToText()
{
    // Labels size themselves to their text from their top-left corner, whatever the font's widths.
    for (QLabel* label : m_labels)
        label->adjustSize();
}

void TForm3::describeRow(int pitchClass)
{
    const int user = exercise::parseFieldValue(userField(pitchClass)).value_or(0);
    const int exact = exercise::parseFieldValue(exactField(pitchClass)).value_or(0);
    // The row's label speaks for the whole row, so a reader hears each row as one sentence.
    Label(3 + pitchClass)->setAccessibleName(
        QString::fromStdString(resultsRowText(m_app.edition(), pitchClass, user, exact)));
}

void TForm3::describeScore()
{
    const QString sentence = QString::fromStdString(scoreSentence(m_app.edition(), scoreText()));
    Label(16)->setAccessibleName(sentence);
    // Said with the window when it opens and with the button that takes the focus then.
    setAccessibleDescription(sentence);
    Button1->setAccessibleDescription(sentence);
}

void TForm3::FormCreate()
{
    const auto& offsets = m_app.exercise().answerOffsets;
    for (int i = 0; i < exercise::kPitchClasses; ++i)
        setExactField(i, exercise::fieldText(-offsets[std::size_t(i)]));
}

std::string TForm3::userField(int pitchClass) const
{
    return StaticText(pitchClass + 1)->text().toStdString();
}

std::string TForm3::exactField(int pitchClass) const
{
    return StaticText(pitchClass + 13)->text().toStdString();
}

void TForm3::setUserField(int pitchClass, const std::string& text)
{
    StaticText(pitchClass + 1)->setText(QString::fromStdString(text));
    describeRow(pitchClass);
}

void TForm3::setExactField(int pitchClass, const std::string& text)
{
    StaticText(pitchClass + 13)->setText(QString::fromStdString(text));
    describeRow(pitchClass);
}

std::string TForm3::scoreText() const
{
    return Label(16)->text().toStdString();
}

void TForm3::setScore(const std::string& text)
{
    Label(16)->setText(QString::fromStdString(text));
    Label(16)->adjustSize();
    describeScore();
}

void TForm3::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

void TForm3::closeSteps()
{
    hide();
    m_app.form2()->Button1->setEnabled(true);
    if (!m_app.noMidiDevice())
        m_app.newExercise();
    m_app.exercise().referenceUsed = false;
    m_app.form2()->setSlidersEnabled(true);
    m_app.unlockLevelAndInstrument();
}

void TForm3::FormClose()
{
    closeSteps();
    m_app.port().allSoundOff(0);
}

void TForm3::closeEvent(QCloseEvent* event)
{
    if (isVisible())
        FormClose();
    event->accept();
}

void TForm3::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F6 && m_app.activateNextWindow(this))
        return;
    QWidget::keyPressEvent(event);
}

void TForm3::Button1Click()
{
    m_app.form1()->close();
}

void TForm3::Button2MouseDown()
{
    closeSteps();
    m_app.exercise().startTime = m_app.platform().clock.now();
}

void TForm3::Button2MouseUp()
{
    m_app.unlockLevelAndInstrument();
    m_app.exercise().startTime = m_app.platform().clock.now();
}

void TForm3::Button2Click()
{
    m_app.exercise().startTime = m_app.platform().clock.now();
}

void TForm3::Button3Click()
{
    exercise::ReportValues values;
    for (int i = 0; i < exercise::kPitchClasses; ++i) {
        values.user[std::size_t(i)] = userField(i);
        values.exact[std::size_t(i)] = exactField(i);
    }
    values.score = scoreText();
    values.device = m_app.form1()->ComboBox1->currentText().toStdString();
    values.instrument = m_app.form7()->ComboBox1->currentText().toStdString();
    values.difficultyIndex = m_app.difficultyIndex();
    values.referenceUsed = m_app.exercise().referenceUsed;
    values.startTime = m_app.exercise().startTime;
    values.endTime = m_app.exercise().endTime;
    TForm6* buffer = m_app.form6();
    buffer->appendLines(exercise::buildReportLines(m_app.edition(), values, m_app.platform().dateTimeFormats));
    if (!m_app.platform().clipboard.setText(buffer->reportText()))
        m_app.platform().boxes.showError(m_app.text(TextKey::MsgClipboardCannotOpen));
}

void TForm3::Button4Click()
{
    // Whether the browser opened is not the program's concern.
    (void)m_app.platform().web.openUrl(m_app.boardAddress());
}

bool TForm3::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Button2) {
        const MouseStep step = mouseStep(event);
        if (step == MouseStep::Down)
            Button2MouseDown();
        else if (step == MouseStep::Up)
            Button2MouseUp();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace velmora
