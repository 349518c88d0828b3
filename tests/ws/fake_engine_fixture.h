#pragma once
// A client component over the fake engine, with the construction calls cleared.

#include "fake_engine_control.h"
#include "ws/wskwebsocketclient.h"

#include <gtest/gtest.h>

#include <memory>

namespace wstest {

class FakeEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useFakeEngine();
        client = std::make_unique<CorvaneWS::TwskWebSocketClient>();
        fake = std::make_unique<FakeEngine>();
        handle = client->engineObject().handle();
        fake->clear();
    }
    void TearDown() override
    {
        client.reset();
        if (fake) fake->clear();
    }

    std::unique_ptr<CorvaneWS::TwskWebSocketClient> client;
    std::unique_ptr<FakeEngine> fake;
    void* handle = nullptr;
};

}  // namespace wstest
