#include "Sender.h"

#include "DropDownComboBox.h"
#include "KeystrokeString.h"
#include "LayoutUnits.h"
#include "MacroButton.h"
#include "PanelGeometry.h"
#include "PanelSettings.h"
#include "SendFailure.h"
#include "TextRules.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QRadioButton>
#include <QScreen>

namespace {

// The character code a key press types, as the design's key handlers receive it; Ctrl with a
// letter gives its control code (Ctrl+D is 4) on every platform.
int keyAscii(const QKeyEvent* key)
{
    if (key->modifiers().testFlag(Qt::ControlModifier) && key->key() >= Qt::Key_A &&
        key->key() <= Qt::Key_Z)
        return key->key() - Qt::Key_A + 1;
    const QString text = key->text();
    return text.size() == 1 ? text.at(0).unicode() : 0;
}

// The entry the combo box shows, or -1 when its text was typed rather than picked.
int selectedIndex(const QComboBox* combo)
{
    const int i = combo->currentIndex();
    return i >= 0 && combo->itemText(i) == combo->currentText() ? i : -1;
}

} // namespace

Sender::Sender(const Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_platform(platform)
{
    setWindowTitle(QStringLiteral("Keyflare v2.3"));
    setObjectName(QStringLiteral("Sender"));
    setupControls(this, m_platform.windows);
    connectControls();
    m_commands = std::make_unique<MacroSetCommands>(m_macroSet, platform, *Combo1,
                                                    [this] { return AutoSave->isChecked(); });
    connect(m_commands.get(), &MacroSetCommands::loaded, this, &Sender::showFirstButtonSet);
    connect(&m_macroSet, &MacroSet::buttonChanged, this, [this](int index) {
        MacroButton* b = Command1.at(index);
        b->setText(m_macroSet.caption(index));
        b->setAccessibleName(
            QStringLiteral("%1: %2").arg(index + 1).arg(m_macroSet.caption(index)));
    });
    connect(&m_titles, &TargetTitles::reset, this, [this] {
        ProgTitle->clear();
        ProgTitle->addItems(m_titles.entries());
    });
    connect(&m_titles, &TargetTitles::removed, ProgTitle, &QComboBox::removeItem);
    // An added title becomes the target title.
    connect(&m_titles, &TargetTitles::added, this, [this](const QString& title) {
        ProgTitle->addItem(title);
        ProgTitle->setEditText(title);
    });
}

Sender::~Sender() = default;

void Sender::connectControls()
{
    for (MacroButton* b : Command1)
        connect(b, &MacroButton::mouseUp, this, &Sender::Command1_MouseUp);
    // The combo boxes hold the focus and hand keys to their line edits themselves, past any
    // filter on a line edit: the combo box is where typed keys can be seen.
    ProgTitle->installEventFilter(this);
    Combo1->installEventFilter(this);
    // A check box's or option button's handler runs whenever its value changes, also when a
    // procedure sets it; toggled() is exactly that.
    connect(Option1, &QRadioButton::toggled, this, &Sender::Option1_Click);
    connect(Option2, &QRadioButton::toggled, this, &Sender::Option2_Click);
    connect(OnTop, &QCheckBox::toggled, this, &Sender::OnTop_Click);
    connect(CarageRt, &QCheckBox::toggled, this, &Sender::CarageRt_Click);
    connect(Tabky, &QCheckBox::toggled, this, &Sender::Tabky_Click);
    // Only a pick from the open list loads a set; typed text loads nothing.
    connect(Combo1, &DropDownComboBox::picked, this, &Sender::Combo1_Click);
    connect(Combo1, &DropDownComboBox::droppingDown, this, &Sender::Combo1_DropDown);
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, &Sender::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Sender::Command4_Click);
}

void Sender::placeWindow(int left, int top)
{
    // A position stored on a screen that is gone would open the window where nobody can reach it.
    const QPoint stored(px(left), px(top));
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().contains(stored)) {
            move(stored);
            return;
        }
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    move(primary ? primary->availableGeometry().topLeft() : QPoint(0, 0));
}

void Sender::Form_Load()
{
    const PanelSettings stored = PanelSettings::read(m_platform.settings);
    placeWindow(stored.left, stored.top);
    setWindowState(Qt::WindowNoState);
    m_platform.events.yield();

    OnTop->setChecked(stored.onTop);
    CarageRt->setChecked(stored.carriageReturn);
    AutoSave->setChecked(stored.autoSave);

    m_programFolder = m_platform.folder.path();
    if (!m_programFolder.endsWith(QLatin1Char('/')))
        m_programFolder += QLatin1Char('/');
    m_commands->setFolder(m_programFolder);
    ResetButtons();

    GetNames();
    m_platform.events.yield();
    GetProgTitles();
    ProgTitle->setEditText(ProgTitle->count() > 0 ? ProgTitle->itemText(0) : QString());
    m_platform.events.yield();

    const QString first = Combo1->count() > 0 ? Combo1->itemText(0) : QString();
    if (!trimBlanks(first).isEmpty()) {
        Combo1->setEditText(first);
        m_platform.events.yield();
        Combo1_Click();
        m_platform.events.yield();
    }
    m_commands->reportSavedUnasked();
}

bool Sender::Form_QueryUnload()
{
    m_platform.events.yield();
    if (!saveTitleListStep())
        return false;
    const bool changed = m_macroSet.changed() == 1;
    if (!m_commands->closingStep())
        return false;
    if (!changed && OnTop->isChecked())
        m_platform.topmost.setTopmost(this, false);
    return true;
}

void Sender::Form_Unload()
{
    m_platform.events.yield();
    PanelSettings toStore;
    toStore.onTop = OnTop->isChecked();
    toStore.carriageReturn = CarageRt->isChecked();
    toStore.autoSave = AutoSave->isChecked();
    toStore.top = qRound(pos().y() * kUnitsPerPixel);
    toStore.left = qRound(pos().x() * kUnitsPerPixel);
    // A minimized window has no position worth keeping; the last normal one stays stored. A
    // Wayland compositor places windows itself and tells a program nothing of where: the
    // position stored on another desktop stays.
    toStore.write(m_platform.settings,
                  !isMinimized() &&
                      !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
}

QStringList Sender::saveOnRequestedEnd(const QDateTime& now)
{
    QStringList failures;
    if (m_unloaded || !AutoSave->isChecked())
        return failures;
    // The editor applies its pending change as it closes, as the user's close would.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible())
            window->close();
    }
    // Nobody may be asked any more (the session waits for the program to end): what cannot be
    // saved is told to the caller.
    QString error;
    if (titleListChanged() && !m_titles.save(m_programFolder, &error))
        failures << QStringLiteral("The Application Title list could not be saved to %1: %2")
                        .arg(TargetTitles::path(m_programFolder), error);
    if (!m_commands->saveUnasked(now, &error))
        failures << error;
    Form_Unload();
    m_unloaded = true;
    return failures;
}

void Sender::closeEvent(QCloseEvent* event)
{
    if (m_unloaded) {
        event->accept();
        return;
    }
    if (!Form_QueryUnload()) {
        event->ignore();
        return;
    }
    Form_Unload();
    m_unloaded = true;
    event->accept();
    Q_EMIT unloaded();
}

void Sender::ResetButtons()
{
    m_commands->resetButtons();
}

void Sender::Option1_Click()
{
    if (!Option1->isChecked())
        return;
    for (int i = kSetSize; i < kButtonCount; ++i)
        Command1[i]->hide();
    m_platform.events.yield();
    for (int i = 0; i < kSetSize; ++i)
        Command1[i]->show();
}

void Sender::Option2_Click()
{
    if (!Option2->isChecked())
        return;
    for (int i = 0; i < kSetSize; ++i)
        Command1[i]->hide();
    m_platform.events.yield();
    for (int i = kSetSize; i < kButtonCount; ++i)
        Command1[i]->show();
}

void Sender::OnTop_Click()
{
    m_platform.topmost.setTopmost(this, OnTop->isChecked());
}

void Sender::CarageRt_Click()
{
    if (CarageRt->isChecked())
        Tabky->setChecked(false);
}

void Sender::Tabky_Click()
{
    if (Tabky->isChecked())
        CarageRt->setChecked(false);
}

void Sender::GetProgTitles()
{
    m_titles.load(m_programFolder);
    m_platform.events.yield();
}

bool Sender::titleListChanged() const
{
    // Counting alone would miss a title removed and another added.
    return m_titles.isChanged();
}

// Ctrl+D in a list: the index of the entry shown, once the user has said Yes to removing it;
// -1 when no entry is shown (a typed text) or the answer is No.
int Sender::confirmRemoval(QComboBox* list, const QString& before, const QString& after)
{
    m_platform.events.yield();
    const int index = selectedIndex(list);
    if (index < 0)
        return -1;
    const int answer = m_platform.dialogs.message(before + list->itemText(index) + after,
                                                  Dialogs::YesNo | Dialogs::Question);
    return answer == Dialogs::Yes ? index : -1;
}

bool Sender::ProgTitle_KeyPress(int keyAscii)
{
    if (keyAscii != 4)
        return false;
    const int index = confirmRemoval(ProgTitle, QStringLiteral("Are you sure you want to remove "),
                                     QStringLiteral("?"));
    if (index >= 0)
        m_titles.remove(index);
    return true;
}

// Returns false when the close is to be cancelled.
bool Sender::saveTitleListStep()
{
    if (!titleListChanged())
        return true;
    const int answer = AutoSave->isChecked()
                           ? int(Dialogs::Yes)
                           : m_platform.dialogs.message(
                                 QStringLiteral("The Application Title list has changed."
                                                "\r\n\r\nDo you want to Save these changes?"),
                                 Dialogs::YesNoCancel);
    if (answer == Dialogs::Cancel)
        return false;
    if (answer != Dialogs::Yes)
        return true;
    const QString path = TargetTitles::path(m_programFolder);
    QString error;
    if (!m_titles.save(m_programFolder, &error)) {
        // Nothing may be lost: the window stays open, so the user can try again or answer No.
        m_platform.dialogs.message(QStringLiteral("The Application Title list could not be saved "
                                                  "to\r\n%1\r\n\r\n%2")
                                       .arg(path, error),
                                   Dialogs::OkOnly | Dialogs::Exclamation);
        return false;
    }
    m_platform.events.yield();
    return true;
}

bool Sender::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched == ProgTitle)
        return ProgTitle_KeyPress(keyAscii(static_cast<QKeyEvent*>(event)));
    if (event->type() == QEvent::KeyPress && watched == Combo1)
        return Combo1_KeyPress(keyAscii(static_cast<QKeyEvent*>(event)));
    return QWidget::eventFilter(watched, event);
}

void Sender::Command1_MouseUp(int index, int button)
{
    if (m_busy == 1)
        return;
    if (button == MacroButton::Left)
        sendMacro(index);
    else if (button == MacroButton::Right)
        openEditor(index);
}

void Sender::sendMacro(int index)
{
    if (trimBlanks(ProgTitle->currentText()).isEmpty())
        return;
    const QString macroText = text(index);
    if (!macroText.isEmpty()) {
        m_busy = 1;
        m_platform.events.yield();
        const QString keys = keystrokeString(macroText);
        // A modifier still held from the click would combine with the keys; where the desktop
        // tells only the focused window of it, that is the panel until the target is activated.
        if (const Typing ready = m_platform.keys.awaitReleasedModifiers(); ready != Typing::Done) {
            failSend(true, ready);
            return;
        }
        // The title is read again, untrimmed: it may have changed during the yield.
        const WindowId target = m_platform.activation.activate(ProgTitle->currentText());
        Typing result = target != 0 ? m_platform.keys.inject(target, keys) : Typing::FocusLost;
        if (result == Typing::Done && CarageRt->isChecked())
            result = m_platform.keys.inject(target, QStringLiteral("{ENTER}"));
        if (result == Typing::Done && Tabky->isChecked())
            result = m_platform.keys.inject(target, QStringLiteral("{TAB}"));
        if (result != Typing::Done) {
            failSend(target != 0, result);
            return;
        }
        m_platform.events.yield();
    }
    m_platform.events.yield();
    m_busy = 0;
}

void Sender::failSend(bool reached, Typing result)
{
    const QString unavailable = m_platform.activation.unavailableReason();
    m_platform.dialogs.message(unavailable.isEmpty()
                                   ? sendFailureMessage(ProgTitle->currentText(), reached, result)
                                   : unavailable,
                               Dialogs::OkOnly);
    m_platform.events.yield();
    m_busy = 0;
}

void Sender::openEditor(int index)
{
    if (m_openEditor)
        m_openEditor(index);
}

void Sender::GetNames()
{
    m_commands->list();
}

void Sender::Combo1_Click()
{
    m_commands->load();
}

void Sender::showFirstButtonSet()
{
    // The loaded set is shown from its first button set, as focusing "1-24" does.
    if (isVisible()) {
        Option1->setFocus();
        Option1->setChecked(true);
        Combo1->setFocus();
    }
}

void Sender::Combo1_DropDown()
{
    m_commands->offerToSave();
}

bool Sender::Combo1_KeyPress(int keyAscii)
{
    if (keyAscii != 4)
        return false;
    const int index =
        confirmRemoval(Combo1, QStringLiteral("DELETE macro set > "), QStringLiteral(" < ?"));
    if (index >= 0)
        m_commands->remove(index);
    return true;
}

Sender::SaveResult Sender::Command2_Click()
{
    return m_commands->saveAs();
}

void Sender::Command3_Click()
{
    m_commands->clear();
}

void Sender::Command4_Click()
{
    hide();
    m_platform.events.yield();
    if (m_openGrabber)
        m_openGrabber();
    m_platform.events.yield();
    show();
}
