#include "Form2.h"

#include "GrabberGeometry.h"
#include "LayoutUnits.h"
#include "TargetLine.h"
#include "TargetTitles.h"

#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void Form2::open(TargetTitles& titles, const Platform& platform, QWidget* panel)
{
    // Where no other window can be reached, there is nothing to point at.
    const QString unavailable = platform.activation.unavailableReason();
    if (!unavailable.isEmpty()) {
        platform.dialogs.message(unavailable, Dialogs::OkOnly | Dialogs::Exclamation);
        return;
    }
    Form2 grabber(titles, platform);
    grabber.move(panel->pos());
    grabber.Form_Load();
    grabber.exec();
}

Form2::Form2(TargetTitles& titles, const Platform& platform)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      m_titles(titles), m_platform(platform)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowModality(Qt::ApplicationModal);
    namespace G = GrabberGeometry;
    UnitLayout layout(this, G::kWidth, G::kHeight);

    // Where the desktop cannot tell what is under the pointer, the user shows the window by
    // making it active instead.
    instructions = new QLabel(platform.pointer.followsActivation()
                                  ? QStringLiteral("\n To Grab an Application Title, click the\n"
                                                   " program, come back here and press ENTER")
                                  : QStringLiteral("\n To Grab an Application Title, place your "
                                                   "mouse\n pointer over the programs Title Bar "
                                                   "and press ENTER"),
                              this);
    instructions->setObjectName(QStringLiteral("instructions"));
    layout.place(instructions, G::kInstructions);
    instructions->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    layout.place(Text1, G::kTitle, UnitLayout::Height);
    // What the title shown would match, were it taken.
    Target = new TargetLine(platform.windows, this);
    Target->setObjectName(QStringLiteral("Target"));
    layout.place(Target, G::kTargetLine);
    connect(Text1, &QLineEdit::textChanged, Target, &TargetLine::setTitle);
    // Below the window's edge, so it is never seen; as the default button it takes ENTER.
    Command1 = new QPushButton(QStringLiteral("GRB"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    layout.place(Command1, G::kTake, UnitLayout::Nothing);
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    layout.place(Command2, G::kCancel);
    layout.apply();
    Text1->setAccessibleName(QStringLiteral("Title under the pointer"));
    // Enter on the focused "Cancel" cancels; elsewhere it takes the title.
    Command2->setAutoDefault(true);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);

    Timer1 = new QTimer(this);
    Timer1->setInterval(250);
    connect(Timer1, &QTimer::timeout, this, &Form2::Timer1_Timer);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
}

void Form2::Form_Load()
{
    Timer1->start();
}

void Form2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_activated) {
        m_activated = true;
        // After the window is up, so that the focus lands in it.
        QTimer::singleShot(0, this, &Form2::Form_Activate);
    }
}

void Form2::Form_Activate()
{
    m_platform.events.yield();
    Command1->setFocus();
}

void Form2::Timer1_Timer()
{
    const PointedWindow w = m_platform.pointer.windowUnderPointer();
    // The desktop sees the grabber as one window; each of its controls counts as a window of its
    // own, as a control under the pointer does in other programs. (A desktop that follows
    // activation never names Keyflare's own windows, and its ids are not window handles.)
    const bool overGrabber =
        !m_platform.pointer.followsActivation() && (w.ownWindow || w.id == winId());
    const QWidget* control = overGrabber ? childAt(mapFromGlobal(QCursor::pos())) : nullptr;
    if (w.id == LastWnd && control == m_lastControl)
        return;
    LastWnd = w.id;
    m_lastControl = control;
    // The untitled grabber may be named after the program by the desktop: its bare surface has
    // no text.
    const QString title = overGrabber ? controlText(control) : w.title;
    // A window whose text is "Cancel", the grabber's own button among them, never replaces the
    // title shown.
    if (title == QLatin1String("Cancel"))
        return;
    Text1->setText(title);
}

QString Form2::controlText(const QWidget* control)
{
    if (const auto* button = qobject_cast<const QPushButton*>(control))
        return button->text();
    if (const auto* box = qobject_cast<const QLineEdit*>(control))
        return box->text();
    return QString();
}

void Form2::Command1_Click()
{
    Timer1->stop();
    m_platform.events.yield();
    const QString title = Text1->text();
    if (!title.isEmpty() && !m_titles.add(title))
        m_platform.dialogs.message(QStringLiteral("This title is already in your list."),
                                   Dialogs::OkOnly | Dialogs::Exclamation);
    m_platform.events.yield();
    accept();
}

void Form2::Command2_Click()
{
    Timer1->stop();
    m_platform.events.yield();
    reject();
}
