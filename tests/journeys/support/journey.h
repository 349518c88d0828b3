#pragma once
// What every journey program shares: the X session its main started before
// the QApplication (so this program's own windows live on it too), and the
// fixture that skips only when no X server could be had at all.

#include "x_session.h"

#include <gtest/gtest.h>

namespace journeys {

// The session of this test program; null while gtest only lists the tests.
XSession* session();
void setSession(XSession* session);

class JourneyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XSession* s = session();
        if (!s) GTEST_SKIP() << "no X session while listing the tests";
        if (!s->displayUp()) GTEST_SKIP() << "no X server for the journeys: " << s->failure().toStdString();
        // Past this point a missing window manager is a fault of the machine's
        // setup (scripts/install-deps.sh installs it), not a reason to skip.
        ASSERT_TRUE(s->windowManagerUp()) << s->failure().toStdString();
    }
    XSession& x() { return *session(); }
};

}  // namespace journeys
