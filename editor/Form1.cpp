#include "Form1.h"

#include "EditorGeometry.h"
#include "LayoutUnits.h"
#include "LimitedLineEdit.h"
#include "MacroSet.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

Form1* Form1::open(MacroSet& set, const Platform& platform, QWidget* panel, bool autoSave,
                   int index)
{
    panel->hide();
    auto* editor = new Form1(set, platform, panel, autoSave);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->Form_Load();
    platform.events.yield();
    editor->VScroll1->setValue(index);
    // A new editor starts at button 1, so selecting it raises no change to load it.
    if (index == 0) {
        editor->Text1->setText(set.caption(0));
        editor->Text2->setText(set.text(0));
        editor->Label5->setText(QStringLiteral("1"));
    }
    platform.events.yield();
    return editor;
}

Form1::Form1(MacroSet& set, const Platform& platform, QWidget* panel, bool autoSave)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_set(set), m_platform(platform), m_panel(panel), m_autoSave(autoSave)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Keyflare Button Manager"));
    buildControls();
}

void Form1::buildControls()
{
    namespace G = EditorGeometry;
    UnitLayout layout(this, G::kWidth, G::kHeight);
    // The system's default font throughout; it is larger than the one this layout was drawn
    // for, so nothing is made larger still.
    QFont bold = font();
    bold.setBold(true);

    const auto button = [&](const char* name, const QString& caption, QRect r, QWidget* parent) {
        auto* b = new QPushButton(caption, parent ? parent : this);
        b->setObjectName(QLatin1String(name));
        layout.place(b, r, caption.isEmpty() ? UnitLayout::Height : UnitLayout::Everything);
        // Enter presses the focused button, as Space does.
        b->setAutoDefault(true);
        return b;
    };
    const auto label = [&](const char* name, const QString& caption, QRect r, QWidget* parent) {
        auto* l = new QLabel(caption, parent ? parent : this);
        l->setObjectName(QLatin1String(name));
        layout.place(l, r);
        return l;
    };

    Text1 = new LimitedLineEdit(kCaptionLimit, this);
    Text1->setObjectName(QStringLiteral("Text1"));
    layout.place(Text1, G::kCaption, UnitLayout::Height);
    Text1->setFont(bold);
    Text2 = new LimitedLineEdit(kTextLimit, this);
    Text2->setObjectName(QStringLiteral("Text2"));
    layout.place(Text2, G::kText, UnitLayout::Height);

    Command5 =
        button("Command5", QStringLiteral("Enter TAB  Key"), G::kTabKey, nullptr);
    Command2 = button("Command2", QStringLiteral("&Apply"), G::kApply, nullptr);

    Frame1 = new QGroupBox(QStringLiteral("Button No."), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    layout.place(Frame1, G::kNumberFrame);
    VScroll1 = new QScrollBar(Qt::Vertical, Frame1);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    layout.place(VScroll1, G::kSelectorInFrame, UnitLayout::Nothing);
    VScroll1->setRange(0, MacroSet::kButtonCount - 1);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(1);
    VScroll1->setFocusPolicy(Qt::StrongFocus);

    QLabel* label1 = label("Label1", QStringLiteral("Button Caption  (21 Characters Max.)"),
                           G::kCaptionLabel, nullptr);
    QLabel* label2 = label("Label2",
                           QStringLiteral("The text you want to be sent for this button. (240 "
                                          "Characters Max., Single Line)"),
                           G::kTextLabel, nullptr);
    label1->setBuddy(Text1);
    label2->setBuddy(Text2);

    Label5 = label("Label5", QStringLiteral("0"), G::kNumberInFrame, Frame1);
    Label5->setFont(bold);
    Label5->setAlignment(Qt::AlignCenter);
    Label5->setAutoFillBackground(true);
    QPalette numberColours = Label5->palette();
    numberColours.setColor(QPalette::Window, QColor(192, 0, 0));
    numberColours.setColor(QPalette::WindowText, QColor(255, 255, 0));
    Label5->setPalette(numberColours);

    Frame2 = new QGroupBox(QStringLiteral("Button Pre-View"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    layout.place(Frame2, G::kPreviewFrame);
    Command1 = button("Command1", QString(), G::kPreviewInFrame, Frame2);
    Command1->setFocusPolicy(Qt::NoFocus);
    Frame2->setEnabled(false);

    Command3 = button("Command3", QStringLiteral("&Undo"), G::kUndo, nullptr);
    Command3->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    Command4 = button("Command4", QStringLiteral("&Close"), G::kClose, nullptr);

    layout.apply();
    Text1->setAccessibleName(QStringLiteral("Button Caption"));
    Text2->setAccessibleName(QStringLiteral("Button Text"));
    VScroll1->setAccessibleName(QStringLiteral("Button No."));
    Command1->setAccessibleName(QStringLiteral("Button Pre-View"));
    Command2->setEnabled(false);
    Command3->setEnabled(false);
    Command5->setEnabled(false);

    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command5);
    setTabOrder(Command5, Command2);
    setTabOrder(Command2, VScroll1);
    setTabOrder(VScroll1, Command4);

    for (QObject* o : {static_cast<QObject*>(Text1), static_cast<QObject*>(Text2),
                       static_cast<QObject*>(Command2), static_cast<QObject*>(Command3)})
        o->installEventFilter(this);

    connect(VScroll1, &QScrollBar::valueChanged, this, &Form1::VScroll1_Change);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::close);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(Text2, &QLineEdit::textChanged, this, &Form1::Text2_Change);
    // Any edit by the user counts, also one made with the mouse (a paste from the context menu, a
    // drop) that no key press announces; otherwise a switch would drop it without asking.
    connect(Text1, &QLineEdit::textEdited, this, &Form1::userEdited);
    connect(Text2, &QLineEdit::textEdited, this, &Form1::userEdited);
}

void Form1::Form_Load()
{
    move(m_panel->pos());
    show();
    m_platform.events.yield();
    m_platform.topmost.setTopmost(this, true);
    TextEdited = 0;
    m_platform.events.yield();
    Text1->setFocus();
}

void Form1::VScroll1_Change()
{
    // The question below runs an event loop; a value change arriving inside it is taken up by
    // this run, which reads the selector's value after the question.
    if (m_switching)
        return;
    m_switching = true;
    Command5->setEnabled(false);
    if (Command2->isEnabled()) {
        // A press on the selector has already started its auto-repeat, which would go on moving
        // it (and asking again) while the question is shown, and the question takes the release
        // that would end it: the press ends here, so one press moves one button.
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(VScroll1, &release);
        resolvePendingChange(LoadedButton);
    }
    Command2->setEnabled(false);
    Command3->setEnabled(false);
    TextEdited = 0;
    const int n = VScroll1->value();
    Label5->setText(QString::number(n + 1));
    m_platform.events.yield();
    Text1->setText(m_set.caption(n));
    Text2->setText(m_set.text(n));
    LoadedButton = n;
    m_switching = false;
    // Moved again while this run yielded: show the button it stands on now.
    if (VScroll1->value() != LoadedButton)
        VScroll1_Change();
}

void Form1::resolvePendingChange(int index)
{
    const bool apply =
        m_autoSave ||
        m_platform.dialogs.message(
            QStringLiteral("The Text for this button has changed!\r\n\r\nApply Changes to "
                           "Button # %1 ?")
                .arg(index + 1),
            Dialogs::YesNo | Dialogs::Question) == Dialogs::Yes;
    if (!apply)
        return;
    m_set.setChanged(1);
    m_set.setCaption(index, Text1->text());
    m_set.setText(index, Text2->text());
}

void Form1::Command2_Click()
{
    const int n = VScroll1->value();
    if (m_set.caption(n) != Text1->text()) {
        m_set.setChanged(1);
        m_set.setCaption(n, Text1->text());
    }
    if (m_set.text(n) != Text2->text()) {
        m_set.setChanged(1);
        m_set.setText(n, Text2->text());
    }
    Command2->setEnabled(false);
    Command3->setEnabled(false);
    TextEdited = 0;
    VScroll1->setValue(n + 1 > MacroSet::kButtonCount - 1 ? 0 : n + 1);
    Text1->setFocus();
}

void Form1::Command3_Click()
{
    const int n = VScroll1->value();
    Text1->setText(m_set.caption(n));
    Text2->setText(m_set.text(n));
    Command2->setEnabled(false);
    Command3->setEnabled(false);
    TextEdited = 0;
    m_platform.events.yield();
}

void Form1::Command5_Click()
{
    // Appending a TAB is an edit: it must never be dropped without a question.
    TextEdited = 1;
    Text2->setText(Text2->text() + QLatin1Char('\t'));
    Text2->setCursorPosition(static_cast<int>(Text2->text().size()));
    Text2->setFocus();
}

void Form1::Text1_Change()
{
    if (TextEdited == 1) {
        Command2->setEnabled(true);
        Command3->setEnabled(true);
    }
    Command1->setText(Text1->text());
}

void Form1::Text2_Change()
{
    if (TextEdited == 1) {
        Command2->setEnabled(true);
        Command3->setEnabled(true);
    }
}

void Form1::userEdited()
{
    TextEdited = 1;
    Command2->setEnabled(true);
    Command3->setEnabled(true);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // "Enter TAB  Key" works on the text box only, so it is offered while that box was the
        // last one worked in.
        if (watched == Text2)
            Command5->setEnabled(true);
        else
            Command5->setEnabled(false);
        return false;
    }
    if (event->type() != QEvent::KeyPress || (watched != Text1 && watched != Text2))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete || !key->text().isEmpty())
        TextEdited = 1;
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    // Enter never goes into a box: it moves on, from the caption to the text, from the text to
    // Apply.
    if (watched == Text1) {
        Text2->setFocus();
    } else {
        Command2->setEnabled(true);
        Command2->setFocus();
    }
    return true;
}

void Form1::Form_QueryUnload()
{
    if (Command2->isEnabled())
        resolvePendingChange(VScroll1->value());
    m_platform.topmost.setTopmost(this, false);
    m_panel->show();
}

void Form1::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload();
    event->accept();
}
