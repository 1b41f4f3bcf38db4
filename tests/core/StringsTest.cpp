#include "core/Strings.h"

#include <gtest/gtest.h>

#include "core/Exceptions.h"

TEST(Strings, NamesAndValuesSplitAtTheFirstEquals) {
    TStrings s{"user_name=SYSDBA", "a=b=c", "plain", "=x"};
    EXPECT_EQ(s.Names(0), "user_name");
    EXPECT_EQ(s.ValueFromIndex(0), "SYSDBA");
    EXPECT_EQ(s.Names(1), "a");
    EXPECT_EQ(s.ValueFromIndex(1), "b=c");
    EXPECT_EQ(s.Names(2), "");
    EXPECT_EQ(s.ValueFromIndex(2), "");
    EXPECT_EQ(s.Names(3), "");
    EXPECT_EQ(s.ValueFromIndex(3), "x");
    EXPECT_EQ(s.Values("a"), "b=c");
    EXPECT_EQ(s.IndexOfName("plain"), -1);
}

TEST(Strings, SetValueReplacesOrAppends) {
    TStrings s{"password=old"};
    s.SetValue("password", "new");
    s.SetValue("sql_role_name", "");
    EXPECT_EQ(s.Lines(), (std::vector<std::string>{"password=new", "sql_role_name="}));
}

TEST(Strings, RefusingHookLeavesTheListUnchanged) {
    TStrings s{"one"};
    bool refuse = true;
    int changes = 0;
    s.OnChanging = [&] {
        if (refuse)
            throw Exception("refused");
    };
    s.OnChange = [&] { ++changes; };
    EXPECT_THROW(s.Add("two"), Exception);
    EXPECT_THROW(s.Clear(), Exception);
    EXPECT_THROW(s.Put(0, "x"), Exception);
    EXPECT_THROW(s.Assign(TStrings{"a", "b"}), Exception);
    EXPECT_EQ(s.Lines(), std::vector<std::string>{"one"});
    EXPECT_EQ(changes, 0);
    refuse = false;
    s.Add("two");
    EXPECT_EQ(changes, 1);
}

TEST(Strings, UpdateBracketReportsOnceButGuardsEveryChange) {
    TStrings s;
    int before = 0, after = 0;
    s.OnChanging = [&] { ++before; };
    s.OnChange = [&] { ++after; };
    s.BeginUpdate();
    s.Add("a");
    s.Add("b");
    s.EndUpdate();
    EXPECT_EQ(before, 3);
    EXPECT_EQ(after, 1);
}

TEST(Strings, CopyTakesLinesButNotHooks) {
    TStrings s{"a"};
    int changes = 0;
    s.OnChange = [&] { ++changes; };
    TStrings copy(s);
    copy.Add("b");
    EXPECT_EQ(changes, 0);
    s = copy;
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(s.Count(), 2);
}

TEST(Strings, TextRoundTripsWithCrLf) {
    TStrings s;
    s.SetText("a\r\nb\nc");
    EXPECT_EQ(s.Count(), 3);
    EXPECT_EQ(s.Text(), "a\r\nb\r\nc\r\n");
}

TEST(Strings, IndexOutOfRangeRaises) {
    TStrings s;
    EXPECT_THROW(s[0], Exception);
    EXPECT_THROW(s.Delete(0), Exception);
}
