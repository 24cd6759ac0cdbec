#include "Sender.h"

#include "DropDownComboBox.h"
#include "LayoutUnits.h"
#include "MacroButton.h"
#include "PanelGeometry.h"
#include "KeystrokeString.h"
#include "MacroSetCatalogue.h"
#include "MacroSetFile.h"
#include "TextRules.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <cmath>
#include <limits>

namespace {

// A stored number as a whole number within [min, max]; false when it is not a number or does not
// fit, so that a garbled settings file never moves a window to nowhere or ticks a box by accident.
bool toWhole(const QString& stored, long long min, long long max, long long* out)
{
    const QString s = stored.trimmed();
    bool ok = false;
    long long v = s.toLongLong(&ok);
    if (!ok) {
        const double d = s.toDouble(&ok);
        if (!ok || !std::isfinite(d) || d < static_cast<double>(min) - 0.5 ||
            d > static_cast<double>(max) + 0.5)
            return false;
        v = std::llround(d);
    }
    if (v < min || v > max)
        return false;
    *out = v;
    return true;
}

int toPosition(const QString& stored)
{
    long long v = 0;
    return toWhole(stored, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &v)
               ? static_cast<int>(v)
               : 0;
}

bool toTicked(const QString& stored)
{
    long long v = 0;
    return toWhole(stored, -32768, 32767, &v) && v == 1;
}

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

QString checkValue(const QCheckBox* box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
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
    buildControls();
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

void Sender::buildControls()
{
    namespace G = PanelGeometry;
    UnitLayout layout(this, G::kWidth, G::kHeight);
    const auto button = [&](const char* name, const QString& caption, QRect r) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        layout.place(b, r);
        // Enter presses the focused button, as Space does.
        b->setAutoDefault(true);
        return b;
    };
    const auto check = [&](const char* name, const QString& caption, QRect r) {
        auto* c = new QCheckBox(caption, this);
        c->setObjectName(QLatin1String(name));
        layout.place(c, r);
        return c;
    };

    Command1.reserve(kButtonCount);
    for (int i = 0; i < kButtonCount; ++i) {
        auto* b = new MacroButton(i, this);
        b->setObjectName(QStringLiteral("Command1_%1").arg(i));
        layout.place(b, G::macroButton(i), UnitLayout::Height);
        b->setVisible(i < kSetSize);
        connect(b, &MacroButton::mouseUp, this, &Sender::Command1_MouseUp);
        Command1.append(b);
    }

    Command2 = button("Command2", QStringLiteral("Save &As..."), G::kSaveAs);
    Command3 = button("Command3", QStringLiteral("Cl&ear"), G::kClear);
    OnTop = check("OnTop", QStringLiteral("On Top"), G::kOnTop);
    CarageRt = check("CarageRt", QStringLiteral("+Return"), G::kReturn);

    Frame1 = new QGroupBox(QStringLiteral("Button Set"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    layout.place(Frame1, G::kButtonSetFrame);
    Option1 = new QRadioButton(QStringLiteral("1-24"), Frame1);
    Option1->setObjectName(QStringLiteral("Option1"));
    layout.place(Option1, G::kSet1InFrame);
    Option1->setChecked(true);
    Option2 = new QRadioButton(QStringLiteral("25-48"), Frame1);
    Option2->setObjectName(QStringLiteral("Option2"));
    layout.place(Option2, G::kSet2InFrame);

    Command4 = button("Command4", QStringLiteral("&Grab\nTitle"), G::kGrabTitle);

    ProgTitle = new DropDownComboBox(this);
    ProgTitle->setObjectName(QStringLiteral("ProgTitle"));
    layout.place(ProgTitle, G::kTitleBox, UnitLayout::Height);
    Combo1 = new DropDownComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    layout.place(Combo1, G::kSetBox, UnitLayout::Height);
    for (QComboBox* combo : {ProgTitle, Combo1}) {
        // The combo box holds the focus and hands keys to its line edit itself, past any filter
        // on the line edit: the combo box is where typed keys can be seen.
        combo->installEventFilter(this);
        QPalette pal = combo->palette();
        pal.setColor(QPalette::Base, Qt::white);
        combo->setPalette(pal);
    }
    QPalette black = Combo1->palette();
    black.setColor(QPalette::Text, Qt::black);
    Combo1->setPalette(black);

    Label3 = new QLabel(QStringLiteral("Load Macro Set"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    layout.place(Label3, G::kSetLabel);
    Label3->setBuddy(Combo1);
    Label2 = new QLabel(QStringLiteral("Application Title"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    layout.place(Label2, G::kTitleLabel);
    Label2->setBuddy(ProgTitle);

    AutoSave = check("AutoSave", QStringLiteral("AutoSave"), G::kAutoSave);
    Tabky = check("Tabky", QStringLiteral("+Tab"), G::kTab);

    layout.apply();
    ProgTitle->setAccessibleName(QStringLiteral("Application Title"));
    Combo1->setAccessibleName(QStringLiteral("Load Macro Set"));

    // The keyboard order of the controls below the buttons.
    const QList<QWidget*> order = {Command2,  Command3, OnTop,   CarageRt, Option1, Command4,
                                   ProgTitle, Combo1,   Option2, AutoSave, Tabky};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

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
    SettingsStore& settings = m_platform.settings;
    const int top = toPosition(settings.read(QStringLiteral("Top"), QStringLiteral("0")));
    const int left = toPosition(settings.read(QStringLiteral("Left"), QStringLiteral("0")));
    placeWindow(left, top);
    setWindowState(Qt::WindowNoState);
    m_platform.events.yield();

    OnTop->setChecked(toTicked(settings.read(QStringLiteral("On Top"), QStringLiteral("0"))));
    CarageRt->setChecked(toTicked(settings.read(QStringLiteral("CrgReturn"), QStringLiteral("1"))));
    AutoSave->setChecked(toTicked(settings.read(QStringLiteral("AutoSav"), QStringLiteral("0"))));

    m_programFolder = m_platform.folder.path();
    if (!m_programFolder.endsWith(QLatin1Char('/')))
        m_programFolder += QLatin1Char('/');
    ResetButtons();

    GetNames();
    m_platform.events.yield();
    GetProgTitles();
    ProgTitle->setEditText(ProgTitle->count() > 0 ? ProgTitle->itemText(0) : QString());
    m_savedTitleCount = ProgTitle->count();
    m_platform.events.yield();

    const QString first = Combo1->count() > 0 ? Combo1->itemText(0) : QString();
    if (!trimBlanks(first).isEmpty()) {
        Combo1->setEditText(first);
        m_platform.events.yield();
        Combo1_Click();
        m_platform.events.yield();
    }
}

bool Sender::Form_QueryUnload()
{
    m_platform.events.yield();
    if (!saveTitleListStep())
        return false;
    const bool changed = m_macroSet.changed() == 1;
    if (changed && !saveMacroSetStep())
        return false;
    if (!changed && OnTop->isChecked())
        m_platform.topmost.setTopmost(this, false);
    return true;
}

void Sender::Form_Unload()
{
    m_platform.events.yield();
    SettingsStore& settings = m_platform.settings;
    settings.write(QStringLiteral("On Top"), checkValue(OnTop));
    settings.write(QStringLiteral("CrgReturn"), checkValue(CarageRt));
    settings.write(QStringLiteral("AutoSav"), checkValue(AutoSave));
    // A minimized window has no position worth keeping; the last normal one stays stored.
    if (!isMinimized()) {
        settings.write(QStringLiteral("Top"), QString::number(qRound(pos().y() * kUnitsPerPixel)));
        settings.write(QStringLiteral("Left"), QString::number(qRound(pos().x() * kUnitsPerPixel)));
    }
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
    for (int k = 1; k <= kButtonCount; ++k) {
        m_platform.events.yield();
        m_macroSet.resetButton(k - 1);
    }
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
    m_savedTitleCount = 0;
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
    // Each cause names what the user can do about it; only a window that cannot be found or does
    // not take the focus is blamed on the target.
    const QString title = ProgTitle->currentText();
    QString text;
    if (!reached || result == Typing::Unavailable)
        text = QStringLiteral("Unable to communicate with ") + title;
    else if (result == Typing::ModifiersHeld)
        text = QStringLiteral("Nothing was typed into %1: a Shift, Ctrl or Alt key is held down."
                              "\r\n\r\nRelease it, then click the button again.")
                   .arg(title);
    else if (result == Typing::Untypable)
        text = QStringLiteral("Nothing was typed into %1: the text holds characters that the "
                              "keyboard layout cannot type.\r\n\r\nChange the text in the "
                              "button editor, or switch to a layout that has them.")
                   .arg(title);
    else
        text = QStringLiteral("Typing into %1 stopped: another window took the keyboard focus."
                              "\r\n\r\nPart of the text may have arrived.")
                   .arg(title);
    m_platform.dialogs.message(text, Dialogs::OkOnly);
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
    Combo1->clear();
    m_platform.events.yield();
    QStringList names;
    QString error;
    const bool listed = MacroSetCatalogue::list(m_programFolder, &names, &error);
    Combo1->addItems(names);
    if (!listed)
        m_platform.dialogs.message(error, Dialogs::OkOnly);
    m_platform.events.yield();
}

void Sender::Combo1_Click()
{
    if (m_fileBusy) {
        // Picked while a load, a save or a clear runs: loaded once that one has ended.
        m_pickPending = true;
        m_pendingPick = Combo1->currentText();
        return;
    }
    m_fileBusy = true;
    loadMacroSet();
    endFileOperation();
    // The loaded set is shown from its first button set, as focusing "1-24" does.
    if (isVisible()) {
        Option1->setFocus();
        Option1->setChecked(true);
        Combo1->setFocus();
    }
}

void Sender::endFileOperation()
{
    m_fileBusy = false;
    if (m_pickPending) {
        m_pickPending = false;
        Combo1->setEditText(m_pendingPick);
        Combo1_Click();
    }
}

void Sender::loadMacroSet()
{
    const QString path = MacroSetCatalogue::path(m_programFolder, Combo1->currentText());
    ResetButtons();
    const QVector<MacroSlot> slots = MacroSetFile::read(path);
    m_platform.events.yield();
    for (int i = 0; i < slots.size(); ++i) {
        m_platform.events.yield();
        setCaption(i, slots[i].caption);
        setText(i, slots[i].text);
    }
    m_platform.events.yield();
}

int Sender::askToSaveChanges(int buttons)
{
    if (AutoSave->isChecked())
        return Dialogs::Yes;
    return m_platform.dialogs.message(QStringLiteral("The current Macro Set ") +
                                          Combo1->currentText() +
                                          QStringLiteral(" has changed.\r\n\r\nDo you want to "
                                                         "Save the changes you made?"),
                                      buttons);
}

void Sender::Combo1_DropDown()
{
    if (m_macroSet.changed() != 1)
        return;
    // A save that failed keeps the flag, so the change is offered again rather than forgotten.
    if (askToSaveChanges(Dialogs::YesNo) == Dialogs::Yes && Command2_Click() == SaveResult::Failed)
        return;
    m_macroSet.setChanged(0);
}

bool Sender::Combo1_KeyPress(int keyAscii)
{
    if (keyAscii != 4)
        return false;
    const int index =
        confirmRemoval(Combo1, QStringLiteral("DELETE macro set > "), QStringLiteral(" < ?"));
    if (index < 0)
        return true;
    const QString name = Combo1->itemText(index);
    QString error;
    if (!MacroSetCatalogue::remove(m_programFolder, name, &error)) {
        // Reporting success here would leave a set on disk that the list no longer shows.
        m_platform.dialogs.message(
            QStringLiteral("The macro set %1 could not be deleted.\r\n\r\n%2").arg(name, error),
            Dialogs::OkOnly | Dialogs::Exclamation);
        return true;
    }
    Combo1->removeItem(index);
    m_platform.events.yield();
    if (Combo1->count() > 0) {
        Combo1->setCurrentIndex(0);
        Combo1_Click();
    }
    return true;
}

Sender::SaveResult Sender::Command2_Click()
{
    // Asked to save while another load or save runs (a close during its yields, say): this one
    // counts as not done, so a close waits rather than ending the program under it.
    if (m_fileBusy)
        return SaveResult::Failed;
    QString name = trimBlanks(Combo1->currentText());
    if (name.isEmpty() || !AutoSave->isChecked()) {
        name = trimBlanks(
            m_platform.dialogs.input(QStringLiteral("\r\n\r\n\r\nEnter a name for this Macro-Set."),
                                     QStringLiteral("Save Macro's to File"), name));
        if (name.isEmpty())
            return SaveResult::NoName;
    }
    const QString refusal = MacroSetCatalogue::refusal(name);
    if (!refusal.isEmpty()) {
        m_platform.dialogs.message(
            QStringLiteral("The macro set cannot be saved as \"%1\".\r\n\r\n%2").arg(name, refusal),
            Dialogs::OkOnly | Dialogs::Exclamation);
        return SaveResult::Failed; // nothing is lost: a close or a clear stops here
    }

    m_fileBusy = true;
    QVector<MacroSlot> slots;
    for (int i = 0; i < kButtonCount; ++i) {
        slots.append({caption(i), text(i)});
        m_platform.events.yield();
    }
    const QString path = MacroSetCatalogue::path(m_programFolder, name);
    QString error;
    if (!MacroSetFile::write(path, slots, &error)) {
        endFileOperation();
        m_platform.dialogs.message(
            QStringLiteral("The macro set could not be saved to\r\n%1\r\n\r\n%2").arg(path, error),
            Dialogs::OkOnly | Dialogs::Exclamation);
        return SaveResult::Failed;
    }
    m_platform.events.yield();
    GetNames();
    Combo1->setEditText(name);
    m_macroSet.setChanged(0);
    endFileOperation();
    return SaveResult::Saved;
}

void Sender::Command3_Click()
{
    if (m_fileBusy)
        return;
    if (m_platform.dialogs.message(QStringLiteral("Clear All Buttons?"),
                                   Dialogs::YesNo | Dialogs::Question) != Dialogs::Yes)
        return;
    // A failed save keeps the buttons: clearing them then would lose the changes.
    if (m_macroSet.changed() == 1 && askToSaveChanges(Dialogs::YesNo) == Dialogs::Yes &&
        Command2_Click() == SaveResult::Failed)
        return;
    if (m_fileBusy)
        return; // a load or save began during the questions
    m_fileBusy = true;
    m_macroSet.setChanged(0);
    ResetButtons();
    Combo1->setEditText(QString());
    endFileOperation();
}

// The macro-set step of closing; returns false when the close is to be cancelled.
bool Sender::saveMacroSetStep()
{
    const int answer = askToSaveChanges(Dialogs::YesNoCancel);
    if (answer == Dialogs::Cancel)
        return false;
    // A set left unnamed at the prompt closes unsaved, as asked; one that failed to save does not.
    return answer != Dialogs::Yes || Command2_Click() != SaveResult::Failed;
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
