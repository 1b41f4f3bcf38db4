#include "core/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/Seam.h"

namespace {

TEST(ScopeGuard, RunsWhenAnExceptionLeavesTheScope) {
    int runs = 0;
    try {
        const core::ScopeExit count([&] { ++runs; });
        throw std::runtime_error("out");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(runs, 1);
}

TEST(ScopeGuard, SetForScopeBringsBackTheEarlierValueNotADefault) {
    std::string text = "earlier";
    {
        const auto set = core::SetForScope(text, std::string("inside"));
        EXPECT_EQ(text, "inside");
    }
    EXPECT_EQ(text, "earlier");
}

struct Named {
    std::string name;
};
Named fallback{"fallback"};
core::Seam<Named> seam([]() -> Named& { return fallback; });
Named* Install(Named* named) {
    return seam.Install(named);
}

TEST(Seam, NestedGuardsPutBackTheOneInstalledBeforeThem) {
    Named outer{"outer"}, inner{"inner"};
    {
        core::ScopedSeam<Named, Install> first(outer);
        {
            core::ScopedSeam<Named, Install> second(inner);
            EXPECT_EQ(seam.Get().name, "inner");
        }
        EXPECT_EQ(seam.Get().name, "outer");
    }
    EXPECT_EQ(seam.Get().name, "fallback");
}

}  // namespace
