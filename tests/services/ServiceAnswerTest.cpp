#include "services/ServiceAnswer.h"

#include <gtest/gtest.h>
#include <ibase.h>

#include <functional>
#include <optional>
#include <string>

#include "AnswerBuilder.h"
#include "services/fib.h"

namespace {

std::string Items(std::initializer_list<int> items) {
    std::string s;
    for (int item : items) s += static_cast<char>(item);
    return s;
}

TServiceAnswer Expect(std::function<void(TServiceAnswer&)> fill) {
    TServiceAnswer a;
    a.ended = true;
    fill(a);
    return a;
}

struct AnswerCase {
    const char* behaviour;
    std::string requested;
    std::string answer;
    // Empty: "Unexpected Output buffer value" (70).
    std::optional<TServiceAnswer> expected;
};

using A = AnswerBuilder;
const std::string kLong(300, 'x');  // a length that needs both bytes

const AnswerCase kCases[] = {
    {"RunningFlagIsALittleEndianInteger", Items({isc_info_svc_running}),
     A().Integer(isc_info_svc_running, 1).End().Bytes(),
     Expect([](TServiceAnswer& a) { a.running = 1; })},
    {"LineTextLengthUsesBothBytes", Items({isc_info_svc_line}),
     A().Text(isc_info_svc_line, kLong).End().Bytes(),
     Expect([](TServiceAnswer& a) { a.output = kLong; })},
    {"MarksBehindTheOutputAreFlagged", Items({isc_info_svc_to_eof}),
     A().Text(isc_info_svc_to_eof, "")
         .Byte(isc_info_svc_timeout)
         .Byte(isc_info_data_not_ready)
         .Byte(isc_info_truncated)
         .End()
         .Bytes(),
     Expect([](TServiceAnswer& a) {
         a.output = "";
         a.timedOut = a.notReady = a.truncated = true;
     })},
    {"InputWantedAndOutputComeInOneAnswer", Items({isc_info_svc_stdin, isc_info_svc_to_eof}),
     A().Integer(isc_info_svc_stdin, 0x00012345)
         .Text(isc_info_svc_to_eof, "gbak: ok\n")
         .End()
         .Bytes(),
     Expect([](TServiceAnswer& a) {
         a.inputWanted = 0x00012345;
         a.output = "gbak: ok\n";
     })},
    {"ItemsMayComeInAnyOrder", Items({isc_info_svc_stdin, isc_info_svc_to_eof}),
     A().Text(isc_info_svc_to_eof, "").Integer(isc_info_svc_stdin, 0).End().Bytes(),
     Expect([](TServiceAnswer& a) {
         a.inputWanted = 0;
         a.output = "";
     })},
    {"ServerVersionIsText", Items({isc_info_svc_server_version}),
     A().Text(isc_info_svc_server_version, "LI-V3.0.11.33703 Firebird 3.0").End().Bytes(),
     Expect([](TServiceAnswer& a) { a.serverVersion = "LI-V3.0.11.33703 Firebird 3.0"; })},
    {"LeftoversBehindTheLastRequestedItemAreNotRead", Items({isc_info_svc_running}),
     A().Integer(isc_info_svc_running, 0).Byte(0).Byte(99).Bytes(), Expect([](TServiceAnswer& a) {
         a.running = 0;
         a.ended = false;
     })},
    {"AnswerWithoutItsEndIsNotEnded", Items({isc_info_svc_line}),
     A().Text(isc_info_svc_line, "ab").Bytes(), Expect([](TServiceAnswer& a) {
         a.output = "ab";
         a.ended = false;
     })},
    {"UnknownTagIsUnexpected", Items({isc_info_svc_to_eof}), A().Byte(9).End().Bytes(),
     std::nullopt},
    {"ItemThatWasNotAskedForIsUnexpected", Items({isc_info_svc_running}),
     A().Text(isc_info_svc_line, "").End().Bytes(), std::nullopt},
    {"TextRunningPastTheBufferIsUnexpected", Items({isc_info_svc_line}),
     A().Byte(isc_info_svc_line).Byte(5).Byte(0).Byte('a').Bytes(), std::nullopt},
    {"LengthCutShortIsUnexpected", Items({isc_info_svc_line}),
     A().Byte(isc_info_svc_line).Byte(5).Bytes(), std::nullopt},
    {"IntegerCutShortIsUnexpected", Items({isc_info_svc_stdin}),
     A().Byte(isc_info_svc_stdin).Byte(1).Byte(0).Bytes(), std::nullopt},
    {"AskedItemTheReaderCannotReadIsUnexpected", Items({isc_info_svc_get_users}),
     A().Text(isc_info_svc_get_users, "").End().Bytes(), std::nullopt},
};

class ReadServiceAnswerCase : public ::testing::TestWithParam<AnswerCase> {};

}  // namespace

TEST_P(ReadServiceAnswerCase, ReadsAsTheServerMeantIt) {
    const AnswerCase& c = GetParam();
    if (!c.expected) {
        try {
            ReadServiceAnswer(c.answer, c.requested);
            ADD_FAILURE() << "read without complaint";
        } catch (const EFIBClientError& e) {
            EXPECT_EQ(e.ClientErrorCode(), UnexpectedOutputValue);
        }
        return;
    }
    EXPECT_EQ(ReadServiceAnswer(c.answer, c.requested), *c.expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, ReadServiceAnswerCase, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.behaviour); });
