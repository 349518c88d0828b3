// Main of the journey programs: the X session first, then the QApplication on
// it, so that windows the test itself makes are real X windows under the
// window manager, like the ones of the programs it starts.
#include "journey.h"

#include <QApplication>

#include <cstring>
#include <memory>

namespace journeys {

namespace {
XSession* g_session = nullptr;
}

XSession* session() { return g_session; }
void setSession(XSession* session) { g_session = session; }

}  // namespace journeys

int main(int argc, char** argv)
{
    // The build lists the tests (gtest_discover_tests): no server for that.
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;

    std::unique_ptr<journeys::XSession> session;
    if (!listing) session = std::make_unique<journeys::XSession>();
    if (session && session->displayUp())
        session->useInThisProcess();
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");  // the journeys then skip, saying why
    journeys::setSession(session.get());

    int status = 0;
    {
        QApplication app(argc, argv);
        // A combo box's list slides open; a click aimed at an item while it slides misses.
        QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    journeys::setSession(nullptr);
    return status;
}
