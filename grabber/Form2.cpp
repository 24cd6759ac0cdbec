#include "Form2.h"

#include "LayoutUnits.h"
#include "Sender.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void Form2::open(Sender& sender)
{
    Form2 grabber(sender, sender.platform());
    grabber.move(sender.pos());
    grabber.Form_Load();
    grabber.exec();
}

Form2::Form2(Sender& sender, Platform& platform)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      m_sender(sender), m_platform(platform)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowModality(Qt::ApplicationModal);
    UnitLayout layout(this, 4020, 1665);

    instructions =
        new QLabel(QStringLiteral("\n To Grab an Application Title, place your mouse\n"
                                  " pointer over the programs Title Bar and press ENTER"),
                   this);
    instructions->setObjectName(QStringLiteral("instructions"));
    layout.place(instructions, QRect(0, 0, 4020, 750));
    instructions->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    layout.place(Text1, QRect(90, 750, 3750, 300), UnitLayout::Height);
    // Below the window's edge, so it is never seen; as the default button it takes ENTER.
    Command1 = new QPushButton(QStringLiteral("GRB"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    layout.place(Command1, QRect(285, 1830, 375, 495), UnitLayout::Nothing);
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    layout.place(Command2, QRect(1440, 1170, 1215, 375));
    layout.apply();
    Text1->setAccessibleName(QStringLiteral("Title under the pointer"));
    Command2->setAutoDefault(false);
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
    if (w.id == LastWnd)
        return;
    LastWnd = w.id;
    // A window whose text is "Cancel" (the grabber's own button, on some desktops) never
    // replaces the title shown.
    if (w.title == QLatin1String("Cancel"))
        return;
    // The grabber has no caption of its own (the desktop may name it after the program).
    Text1->setText(w.id == winId() ? QString() : w.title);
}

void Form2::Command1_Click()
{
    Timer1->stop();
    m_platform.events.yield();
    const QString title = Text1->text();
    if (!title.isEmpty()) {
        QComboBox* list = m_sender.ProgTitle;
        bool listed = false;
        for (int i = 0; i < list->count() && !listed; ++i)
            listed = list->itemText(i) == title;
        if (listed) {
            m_platform.dialogs.message(QStringLiteral("This title is already in your list."),
                                       Dialogs::OkOnly | Dialogs::Exclamation);
        } else {
            list->addItem(title);
            list->setEditText(title);
        }
    }
    m_platform.events.yield();
    accept();
}

void Form2::Command2_Click()
{
    Timer1->stop();
    m_platform.events.yield();
    reject();
}
