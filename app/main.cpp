#include "DesktopPlatform.h"
#include "Form1.h"
#include "Form2.h"
#include "Sender.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Asked to end (at logout, say), the program leaves every event loop at once, open dialogs
    // answering with their last button, and no question is asked: quit() would run the panel's
    // closing check inside whatever dialog is open, and a Cancel there would refuse to end. Once
    // nothing is under way, the panel saves what closing would if AutoSave is ticked, failures
    // going to standard error, and the program's parts tidy up as they are destroyed.
    TerminationSignals terminations;
    QApplication::setOrganizationName(QStringLiteral("Keyflare"));
    QApplication::setApplicationName(QStringLiteral("Keyflare"));
    // The panel hides while the editor or the grabber is open; closing those must not end the
    // program. The program ends when the panel has closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    QApplication::setDesktopFileName(QStringLiteral("keyflare"));

    DesktopPlatform desktop(QStringLiteral(KEYFLARE_INSTALLED_BINDIR));
    Platform platform = desktop.platform();
    Sender sender(platform);
    QObject::connect(&sender, &Sender::unloaded, &app, [] { QCoreApplication::exit(0); });
    sender.setEditorOpener([&sender](int index) {
        Form1::open(sender.macroSet(), sender.platform(), &sender, sender.AutoSave->isChecked(),
                    index);
    });
    sender.setGrabberOpener(
        [&sender] { Form2::open(sender.targetTitles(), sender.platform(), &sender); });
    sender.Form_Load();
    sender.show();
    const int code = terminations.exec();
    if (terminations.requested()) {
        for (const QString& failure : sender.saveOnRequestedEnd())
            std::fprintf(stderr, "Keyflare: %s\n", qPrintable(failure));
    }
    return code;
}
