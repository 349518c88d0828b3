// The simulator's command line, how a reply is cut into pieces under the
// fault options, and one connection's flow: requests in any fragments,
// requests held while an upload response waits for its acknowledgement.
#include "reply_plan.h"
#include "sim_connection.h"
#include "sim_options.h"

#include "device/device_message.h"

#include <gtest/gtest.h>

using namespace recsim;

namespace {

TEST(SimOptionsTest, DefaultsSizesAndRefusals)
{
    const auto plain = parseOptions({"recorder-sim"});
    EXPECT_TRUE(plain.error.isEmpty());
    EXPECT_EQ(plain.options.port, 5000);
    EXPECT_EQ(plain.options.host, "127.0.0.1");
    EXPECT_FALSE(plain.options.requireSession);

    const auto set = parseOptions({"recorder-sim", "--port", "0", "--fragment=64k", "--mmv-size", "256M",
                                   "--bandwidth", "2m", "--latency", "30", "--cut-after", "1000",
                                   "--wrong-length=-3", "--no-ack", "--require-session", "--tls", "/x.pem"});
    ASSERT_TRUE(set.error.isEmpty()) << set.error.toStdString();
    EXPECT_EQ(set.options.port, 0);
    EXPECT_EQ(set.options.fragmentSize, 65536);
    EXPECT_EQ(set.options.mmvSize, 256 << 20);
    EXPECT_EQ(set.options.bandwidth, 2 << 20);
    EXPECT_EQ(set.options.latencyMs, 30);
    EXPECT_EQ(set.options.cutAfter, 1000);
    EXPECT_EQ(set.options.wrongLength, -3);
    EXPECT_TRUE(set.options.noAck);
    EXPECT_TRUE(set.options.requireSession);
    EXPECT_EQ(set.options.tlsPemFile, "/x.pem");

    for (const QStringList& bad : {QStringList{"s", "--port", "70000"}, QStringList{"s", "--port"},
                                   QStringList{"s", "--fragment", "12q"}, QStringList{"s", "--bogus"},
                                   QStringList{"s", "--no-ack=1"}, QStringList{"s", "--mmv-size", "-1"}})
        EXPECT_FALSE(parseOptions(bad).error.isEmpty()) << bad.join(' ').toStdString();
    EXPECT_TRUE(parseOptions({"s", "--help"}).help);
    EXPECT_TRUE(helpText().contains("--cut-after"));
    EXPECT_EQ(parseSize("1G"), qint64(1) << 30);
    EXPECT_FALSE(parseSize("k").has_value());
}

// The pieces of a plan, laid end to end, cover exactly what goes out.
void expectContiguous(const ReplyPlan& plan, qint64 pieceLimit)
{
    qint64 next = 0;
    for (qint64 i = 0; i < plan.pieceCount(); ++i) {
        const Piece p = plan.piece(i);
        EXPECT_EQ(p.offset, next);
        EXPECT_GT(p.length, 0);
        EXPECT_LE(p.length, pieceLimit);
        next += p.length;
    }
    EXPECT_EQ(next, plan.total);
}

TEST(ReplyPlanTest, FragmentSizesCoverTheReplyExactly)
{
    for (qint64 fragment : {qint64(0), qint64(1), qint64(7), qint64(1000), qint64(1) << 20}) {
        SimOptions o;
        o.fragmentSize = fragment;
        ReplyPlanner planner(o);
        for (qint64 size : {qint64(14), qint64(1001), qint64(3) << 20}) {
            const ReplyPlan plan = planner.plan(size);
            EXPECT_EQ(plan.total, size);
            EXPECT_FALSE(plan.disconnectAfter);
            expectContiguous(plan, fragment > 0 ? fragment : size);
            if (fragment == 0) {
                EXPECT_EQ(plan.pieceCount(), 1);
            }
        }
    }
    // Without a fragment size a large download still goes in bounded pieces.
    SimOptions whole;
    ReplyPlanner planner(whole);
    const ReplyPlan big = planner.plan(256 << 20);
    EXPECT_EQ(big.pieceCount(), 256);
    expectContiguous(big, kLargeReplyPiece);
}

TEST(ReplyPlanTest, LatencyBeforeTheFirstPieceAndTheBandwidthPacesTheRest)
{
    SimOptions o;
    o.latencyMs = 40;
    o.bandwidth = 20'000;  // pieces of 1000 bytes, 50 ms apart
    ReplyPlanner planner(o);
    const ReplyPlan plan = planner.plan(3500);
    ASSERT_EQ(plan.pieceCount(), 4);
    EXPECT_EQ(plan.piece(0).waitBeforeMs, 40);
    EXPECT_EQ(plan.piece(1).waitBeforeMs, 50);
    EXPECT_EQ(plan.piece(3).length, 500);
    expectContiguous(plan, 1000);
}

TEST(ReplyPlanTest, TheCutHappensOnceOnTheFirstLongerReply)
{
    SimOptions o;
    o.cutAfter = 500;
    o.fragmentSize = 64;
    ReplyPlanner planner(o);
    EXPECT_FALSE(planner.plan(200).disconnectAfter);   // short replies pass whole
    const ReplyPlan cut = planner.plan(5000);
    EXPECT_TRUE(cut.disconnectAfter);
    EXPECT_EQ(cut.total, 500);
    expectContiguous(cut, 64);
    EXPECT_TRUE(planner.cutDone());
    const ReplyPlan after = planner.plan(5000);
    EXPECT_FALSE(after.disconnectAfter);
    EXPECT_EQ(after.total, 5000);
}

class SimConnectionTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> codes() const
    {
        std::vector<std::uint8_t> c;
        for (const QByteArray& m : sent) c.push_back(device::messageCode(m));
        return c;
    }
    SimOptions options;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<SimConnection> connection;
    std::vector<QByteArray> sent;
    // One data event, then whatever may be answered.
    void feed(const QByteArray& bytes)
    {
        connection->dataIn(bytes);
        connection->serve();
    }
    void start()
    {
        recorder = std::make_unique<Recorder>(options);
        connection = std::make_unique<SimConnection>(*recorder, [this](const QByteArray& m) { sent.push_back(m); });
    }
    void SetUp() override
    {
        options.mmvSize = 100;
        start();
    }
};

TEST_F(SimConnectionTest, ARequestSplitAtEveryByteIsAnsweredOnce)
{
    const QByteArray request = device::sessionRequest("installer", "0000");
    for (int cut = 1; cut < request.size(); ++cut) {
        sent.clear();
        feed(request.left(cut));
        EXPECT_TRUE(sent.empty());
        feed(request.mid(cut));
        ASSERT_EQ(sent.size(), 1u) << cut;
        EXPECT_EQ(device::messageCode(sent[0]), device::kSessionAccepted);
    }
    EXPECT_EQ(recorder->counters().bytesReceived, qint64(request.size()) * (request.size() - 1));
    EXPECT_TRUE(connection->peer().session);
}

TEST_F(SimConnectionTest, RequestsBehindAnUnacknowledgedUploadWaitForTheAck)
{
    feed(device::uploadRequest(device::kDataMmv, 1, 2));
    EXPECT_TRUE(connection->awaitingAck());
    feed(device::gSensorInitRequest());
    feed(device::uploadRequest(device::kDataDrv, 1, 2));
    EXPECT_EQ(connection->heldRequests(), 2);
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kUploadResponse}));

    // The G-sensor request is answered, then the DRV upload waits for its own ack.
    feed(device::acknowledgement());
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kUploadResponse, device::kCommandComplete,
                                                  device::kUploadResponse}));
    EXPECT_TRUE(connection->awaitingAck());
    EXPECT_EQ(connection->heldRequests(), 0);
    feed(device::acknowledgement());
    EXPECT_FALSE(connection->awaitingAck());
    EXPECT_EQ(recorder->counters().acknowledgements, 2);
}

TEST_F(SimConnectionTest, AMissingAckTimesOutAndReleasesTheHeldRequests)
{
    feed(device::uploadRequest(device::kDataSystemLog, 1, 2));
    feed(device::cameraImageRequest());
    EXPECT_EQ(sent.size(), 1u);
    connection->ackTimedOut();
    connection->serve();
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kUploadResponse, device::kFileTransfer}));
    EXPECT_EQ(recorder->counters().ackTimeouts, 1);
    connection->ackTimedOut();  // nothing awaited: nothing counted
    EXPECT_EQ(recorder->counters().ackTimeouts, 1);
}

// The server decides when requests are answered; until then they wait in
// arrival order and are counted, held ones included.
TEST_F(SimConnectionTest, RequestsWaitInOrderUntilTheServerLetsThemBeAnswered)
{
    const auto never = [] { return false; };
    const QByteArray requests[] = {device::gSensorInitRequest(), device::cameraImageRequest(),
                                   device::sessionRequest("installer", "0000")};
    qint64 bytes = 0;
    for (const QByteArray& r : requests) {
        connection->dataIn(r);
        bytes += r.size();
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(connection->waitingBytes(), bytes);
    int allowed = 1;
    connection->serve([&] { return allowed-- > 0; });
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kCommandComplete}));
    EXPECT_EQ(connection->waitingBytes(), bytes - requests[0].size());
    connection->serve(never);
    EXPECT_EQ(sent.size(), 1u);
    connection->serve();
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kCommandComplete, device::kFileTransfer, device::kSessionAccepted}));
    EXPECT_EQ(connection->waitingBytes(), 0);
    EXPECT_FALSE(connection->canServe());

    // Behind an unacknowledged upload: put on hold at no cost, still counted.
    sent.clear();
    feed(device::uploadRequest(device::kDataMmv, 1, 2));
    for (int i = 0; i < 3; ++i) connection->dataIn(device::gSensorInitRequest());
    connection->serve(never);
    EXPECT_EQ(connection->heldRequests(), 3);
    EXPECT_EQ(connection->waitingBytes(), 3 * device::kEmptyMessageSize);
    EXPECT_FALSE(connection->canServe()) << "nothing to answer until the ack";
    connection->dataIn(device::acknowledgement());
    connection->serve(never);
    EXPECT_FALSE(connection->awaitingAck());
    EXPECT_TRUE(connection->canServe());
    connection->serve();
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kUploadResponse, device::kCommandComplete,
                                                  device::kCommandComplete, device::kCommandComplete}));

    // A request that declares more than any request needs sets nothing aside.
    sent.clear();
    feed(device::frame(device::kSettingsUpload, SimConnection::kMaxRequestLength + 1).left(64));
    EXPECT_EQ(connection->waitingBytes(), 0);
    feed(device::gSensorInitRequest());
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kCommandComplete}));
}

TEST_F(SimConnectionTest, WithNoAckExpectedNothingIsHeld)
{
    options.noAck = true;
    start();
    feed(device::uploadRequest(device::kDataMmv, 1, 2));
    feed(device::gSensorInitRequest());
    EXPECT_EQ(codes(), (std::vector<std::uint8_t>{device::kUploadResponse, device::kCommandComplete}));
    EXPECT_FALSE(connection->awaitingAck());
}

}  // namespace
