#pragma once
// The app's windows made in the journey program itself, working in a fresh
// folder of their own as the tool works in the folder it is started from.
// Journeys of the editor, the camera panel and the other windows derive from it.

#include "app_windows.h"
#include "support/in_process.h"
#include "support/journey.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace journeys {

class AppJourney : public JourneyTest {
protected:
    void SetUp() override
    {
        JourneyTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(folder.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(folder.path());
        QApplication::setQuitOnLastWindowClosed(false);
        input.emplace(x());
    }
    void TearDown() override
    {
        windows.reset();  // before the folder they work in goes
        if (!previous.isEmpty()) QDir::setCurrent(previous);
    }

    QTemporaryDir folder;
    QString previous;
    std::unique_ptr<AppWindows> windows;
    std::optional<WidgetInput> input;
};

}  // namespace journeys
