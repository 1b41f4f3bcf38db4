// The feed of a backup read here, over a scripted exchange: what the server
// is sent, and what the restore hears.

#include "restore/StreamFeed.h"

#include <gtest/gtest.h>
#include <ibase.h>

#include <deque>
#include <functional>
#include <vector>

#include "FakeSource.h"
#include "restore/RestoreErrors.h"
#include "services/IB_Services.h"

using restore::InputEnd;
using restore::StopEffect;
using restore::StopLevel;

namespace {

class RecordingContext : public restore::IWaitContext {
  public:
    void OutputLine(const std::string& line) override { lines.push_back(line); }
    void Turn() override {}
    StopLevel Stop() const override { return stop; }
    void Stopping(StopEffect effect) override { effects.push_back(effect); }
    void InputEnded(InputEnd how) override { ends.push_back(how); }
    void ServerEnded() override { serverEnded = true; }

    StopLevel stop = StopLevel::None;
    std::vector<std::string> lines;
    std::vector<StopEffect> effects;
    std::vector<InputEnd> ends;
    bool serverEnded = false;
};

// Answers from a script, one a turn; records what each turn sent ("-" for
// nothing, "<end>" for the end of the input). `onTurn` runs before the
// answer and may raise, as the server would.
struct ScriptedServer {
    restore::ExchangeFn Exchange() {
        return [this](const std::string* input, std::int32_t) {
            sent.push_back(!input ? "-" : input->empty() ? "<end>" : *input);
            if (onTurn)
                onTurn(sent.size());
            TServiceExchange answer = answers.empty()
                                          ? TServiceExchange{.output = {}, .endOfOutput = true}
                                          : answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer;
        };
    }
    std::deque<TServiceExchange> answers;
    std::vector<std::string> sent;
    std::function<void(std::size_t turn)> onTurn;
};

TServiceExchange Wants(std::uint32_t bytes, std::string output = {}) {
    return {.output = std::move(output), .inputWanted = bytes};
}

EFIBInterBaseError ServerError(ISC_STATUS code) {
    ThreadStatusVector()[1] = code;
    EFIBInterBaseError error(-902, "failed", "", nullptr);
    ThreadStatusVector()[1] = 0;
    return error;
}

}  // namespace

TEST(StreamFeed, HandsOverWhatTheServerAsksForThenEndsTheInputAsOftenAsItAsks) {
    FakeSource source("abcdefghij");
    ScriptedServer server;
    // The server asks again after the end when the end answered a request to
    // read ahead, which it drops: it is told again.
    server.answers = {Wants(4), Wants(4, "gbak: one\ngbak: tw"), Wants(4, "o\n"), Wants(4),
                      Wants(4), Wants(0, "gbak: last")};
    RecordingContext context;
    restore::StreamFeed(source).Feed(server.Exchange(), context);
    EXPECT_EQ(server.sent,
              (std::vector<std::string>{"-", "abcd", "efgh", "ij", "<end>", "<end>", "-"}));
    EXPECT_EQ(context.lines, (std::vector<std::string>{"gbak: one", "gbak: two", "gbak: last"}));
    EXPECT_EQ(context.ends, std::vector<InputEnd>{InputEnd::Complete});
    EXPECT_TRUE(context.effects.empty());
}

TEST(StreamFeed, AStopEndsTheInputWhenTheServerNextAsksButNotOnceItHasAll) {
    struct Case {
        std::size_t stopAtTurn;
        std::deque<TServiceExchange> answers;  // then the end of the output
        std::vector<std::string> sent;
        StopEffect effect;
        InputEnd end;
    } cases[] = {
        // Asked at turn 2 while the server wants nothing: the end waits for its request.
        {2,
         {Wants(4), Wants(0), Wants(4)},
         {"-", "abcd", "-", "<end>"},
         StopEffect::EndingInput,
         InputEnd::Stopped},
        {5,
         {Wants(4), Wants(0), Wants(4), Wants(4), Wants(0)},
         {"-", "abcd", "-", "efgh", "<end>", "-"},
         StopEffect::CannotStop,
         InputEnd::Complete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stopAtTurn);
        FakeSource source("abcdefgh");
        ScriptedServer server;
        server.answers = c.answers;
        RecordingContext context;
        server.onTurn = [&](std::size_t turn) {
            if (turn == c.stopAtTurn)
                context.stop = StopLevel::Soft;
        };
        restore::StreamFeed(source).Feed(server.Exchange(), context);
        EXPECT_EQ(server.sent, c.sent);
        ASSERT_FALSE(context.effects.empty());
        EXPECT_EQ(context.effects.front(), c.effect);
        EXPECT_EQ(context.ends, std::vector<InputEnd>{c.end});
    }
}

TEST(StreamFeed, AnUnreadableBackupEndsTheInputAndRaisesItsErrorWhenTheServerHasEnded) {
    struct Case {
        const char* name;
        std::function<void()> serverAfterTheEnd;  // what the server does once the input ends
        bool ended;
    } cases[] = {
        {"the server reports the failure", [] { throw ServerError(isc_io_error); }, true},
        {"the output ends", [] {}, true},
        {"the connection is lost", [] { throw ServerError(isc_network_error); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSource source("abcdefgh");
        source.onRead = [](std::size_t at) {
            if (at >= 4)
                throw restore::EBackupUnreadable("x.fbk.gz", "crc error");
        };
        ScriptedServer server;
        server.answers = {Wants(4), Wants(4)};
        server.onTurn = [&](std::size_t turn) {
            if (turn == 3)
                c.serverAfterTheEnd();
        };
        RecordingContext context;
        EXPECT_THROW(restore::StreamFeed(source).Feed(server.Exchange(), context),
                     restore::EBackupUnreadable);
        EXPECT_EQ(server.sent, (std::vector<std::string>{"-", "abcd", "<end>"}));
        EXPECT_EQ(context.ends, std::vector<InputEnd>{InputEnd::Unreadable});
        EXPECT_EQ(context.serverEnded, c.ended);
    }
}
