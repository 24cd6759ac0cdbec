#pragma once

#include "DropDownComboBox.h"
#include "Sender.h"
#include "TestFiles.h"
#include "fake/FakeDesktop.h"

#include <QCheckBox>
#include <QFile>
#include <QTest>
#include <memory>

// The main panel on the recording fake, in a program folder of its own.
struct Panel
{
    FakeDesktop fake;
    std::unique_ptr<Sender> sender;

    // A dialog that the test did not answer fails the test that ran the panel.
    ~Panel()
    {
        if (!QTest::currentTestFailed() && !fake.unexpected.isEmpty())
            QTest::qFail(qPrintable("unanswered: " + fake.unexpected.join('|')), __FILE__,
                         __LINE__);
    }

    // Starts the panel, in folder when one is given; files put() before are there at start-up.
    Sender& start(const QString& folder = QString())
    {
        if (!folder.isEmpty())
            fake.folderPath = folder;
        sender = std::make_unique<Sender>(fake.platform());
        sender->Form_Load();
        return *sender;
    }
    QString file(const QString& name) const { return fake.folderPath + name; }
    void put(const QString& name, const QByteArray& bytes) { writeFile(file(name), bytes); }
    // Puts a macro set for each name, its first text the name.
    void putSets(const QStringList& names)
    {
        for (const QString& name : names)
            put(name + ".mcs", macroSetBytes({name}));
    }
    // The names in the set box.
    QStringList catalogue() const
    {
        QStringList out;
        for (int i = 0; i < sender->Combo1->count(); ++i)
            out << sender->Combo1->itemText(i);
        return out;
    }
    // Ctrl+D in a list, after picking entry index (none when -1), answered with answer.
    void ctrlD(QComboBox* list, int index, int answer)
    {
        if (index >= 0)
            list->setCurrentIndex(index);
        fake.answers.prepend(answer);
        QTest::keyClick(list, Qt::Key_D, Qt::ControlModifier);
    }
};
