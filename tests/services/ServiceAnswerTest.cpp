#include "services/ServiceAnswer.h"

#include <gtest/gtest.h>
#include <ibase.h>

#include <string>

#include "AnswerBuilder.h"
#include "services/fib.h"

namespace {

std::string Items(std::initializer_list<int> items) {
    std::string s;
    for (int item : items) s += static_cast<char>(item);
    return s;
}

// What was read, one word per fact, or "70" for a refused answer.
std::string Read(const std::string& answer, const std::string& requested) {
    TServiceAnswer a;
    try {
        a = ReadServiceAnswer(answer, requested);
    } catch (const EFIBClientError& e) {
        return std::to_string(e.ClientErrorCode());
    }
    std::string facts;
    auto add = [&facts](const std::string& fact) { facts += (facts.empty() ? "" : " ") + fact; };
    if (a.output)
        add("output=" + std::to_string(a.output->size()) + ":" + a.output->substr(0, 9));
    if (a.running)
        add("running=" + std::to_string(*a.running));
    if (a.inputWanted)
        add("wanted=" + std::to_string(*a.inputWanted));
    if (a.serverVersion)
        add("version=" + *a.serverVersion);
    if (a.timedOut)
        add("timeout");
    if (a.notReady)
        add("not-ready");
    if (a.truncated)
        add("truncated");
    add(a.ended ? "end" : "open");
    return facts;
}

struct AnswerCase {
    const char* behaviour;
    std::string requested;
    std::string answer;
    const char* read;
};

using A = AnswerBuilder;
constexpr int kOut = isc_info_svc_to_eof;
constexpr int kStdin = isc_info_svc_stdin;

const AnswerCase kCases[] = {
    {"RunningFlagIsALittleEndianInteger", Items({isc_info_svc_running}),
     A().Integer(isc_info_svc_running, 1).End().Bytes(), "running=1 end"},
    {"TextLengthUsesBothBytes", Items({isc_info_svc_line}),
     A().Text(isc_info_svc_line, std::string(300, 'x')).End().Bytes(), "output=300:xxxxxxxxx end"},
    {"MarksBehindTheOutputAreFlagged", Items({kOut}),
     A().Text(kOut, "").Byte(isc_info_svc_timeout).Byte(isc_info_data_not_ready).Bytes() +
         A().Byte(isc_info_truncated).End().Bytes(),
     "output=0: timeout not-ready truncated end"},
    {"InputWantedAndOutputComeInOneAnswer", Items({kStdin, kOut}),
     A().Integer(kStdin, 0x00012345).Text(kOut, "gbak: ok").End().Bytes(),
     "output=8:gbak: ok wanted=74565 end"},
    {"ItemsMayComeInAnyOrder", Items({kStdin, kOut}),
     A().Text(kOut, "").Integer(kStdin, 0).End().Bytes(), "output=0: wanted=0 end"},
    {"ServerVersionIsText", Items({isc_info_svc_server_version}),
     A().Text(isc_info_svc_server_version, "LI-V3.0.11").End().Bytes(), "version=LI-V3.0.11 end"},
    {"LeftoversBehindTheLastRequestedItemAreNotRead", Items({isc_info_svc_running}),
     A().Integer(isc_info_svc_running, 0).Byte(0).Byte(99).Bytes(), "running=0 open"},
    {"AnswerWithoutItsEndIsOpen", Items({kOut}), A().Text(kOut, "ab").Bytes(), "output=2:ab open"},
    {"UnknownTagIsUnexpected", Items({kOut}), A().Byte(9).End().Bytes(), "70"},
    {"ItemThatWasNotAskedForIsUnexpected", Items({isc_info_svc_running}),
     A().Text(isc_info_svc_line, "").End().Bytes(), "70"},
    {"TextRunningPastTheBufferIsUnexpected", Items({kOut}),
     A().Byte(kOut).Byte(5).Byte(0).Byte('a').Bytes(), "70"},
    {"LengthCutShortIsUnexpected", Items({kOut}), A().Byte(kOut).Byte(5).Bytes(), "70"},
    {"IntegerCutShortIsUnexpected", Items({kStdin}), A().Byte(kStdin).Byte(1).Byte(0).Bytes(),
     "70"},
    {"AskedItemTheReaderCannotReadIsUnexpected", Items({isc_info_svc_get_users}),
     A().Text(isc_info_svc_get_users, "").End().Bytes(), "70"},
};

class ReadServiceAnswerCase : public ::testing::TestWithParam<AnswerCase> {};

}  // namespace

TEST_P(ReadServiceAnswerCase, ReadsAsTheServerMeantIt) {
    EXPECT_EQ(Read(GetParam().answer, GetParam().requested), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(Answers, ReadServiceAnswerCase, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.behaviour); });
