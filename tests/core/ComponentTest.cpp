#include "core/Component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string>* journal = nullptr;

class Probe : public TComponent {
  public:
    explicit Probe(TComponent* owner, std::string name) : TComponent(owner) {
        SetName(std::move(name));
    }
    ~Probe() override {
        if (journal)
            journal->push_back("free " + Name());
    }
    std::vector<std::string> heard;
    int afterLoads = 0;

  protected:
    void AfterLoad() override { ++afterLoads; }
    void ComponentRemoved(TComponent* c) override { heard.push_back("removed " + c->Name()); }
    void ComponentInserted(TComponent* c) override { heard.push_back("inserted " + c->Name()); }
};

}  // namespace

TEST(Component, OwnedComponentsAreFreedWithTheirOwnerLastFirst) {
    std::vector<std::string> log;
    journal = &log;
    auto* form = new Probe(nullptr, "Form");
    new Probe(form, "A");
    new Probe(form, "B");
    EXPECT_EQ(form->ComponentCount(), 2);
    delete form;
    journal = nullptr;
    EXPECT_EQ(log, (std::vector<std::string>{"free Form", "free B", "free A"}));
}

TEST(Component, DeletingAChildTakesItOutOfItsOwner) {
    Probe form(nullptr, "Form");
    auto* a = new Probe(&form, "A");
    auto* b = new Probe(&form, "B");
    delete a;
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.FindComponent("B"), b);
    EXPECT_EQ(b->heard, (std::vector<std::string>{"removed A"}));
}

TEST(Component, SiblingsHearOfNewcomers) {
    Probe form(nullptr, "Form");
    auto* a = new Probe(&form, "");
    auto* b = new Probe(&form, "");
    b->SetName("B");
    (void)b;
    new Probe(&form, "C");
    EXPECT_EQ(a->heard.size(), 2u);  // b and C
}

TEST(Component, FreeNotificationReachesAnUnrelatedComponent) {
    Probe listener(nullptr, "Listener");
    auto* logger = new Probe(nullptr, "Logger");
    listener.FreeNotification(logger);
    delete logger;
    EXPECT_EQ(listener.heard, (std::vector<std::string>{"removed Logger"}));
}

TEST(Component, FreeNotificationIsForgottenWhenTheListenerGoesFirst) {
    auto* listener = new Probe(nullptr, "Listener");
    Probe logger(nullptr, "Logger");
    listener->FreeNotification(&logger);
    delete listener;
    // Would touch freed memory if the link were still there (caught by ASan).
    SUCCEED();
}

TEST(Component, LoadingBracketRunsAfterLoadOnce) {
    Probe p(nullptr, "P");
    p.BeginLoad();
    EXPECT_TRUE(p.IsLoading());
    p.EndLoad();
    p.EndLoad();
    EXPECT_FALSE(p.IsLoading());
    EXPECT_EQ(p.afterLoads, 1);
}

TEST(Component, PathSkipsUnnamedOwners) {
    TComponent application;  // the application object has no name
    Probe form(&application, "Main_Form");
    Probe service(&form, "pFIBRestoreService1");
    Probe unnamedParent(nullptr, "");
    Probe lone(&unnamedParent, "Lone");
    EXPECT_EQ(ComponentPath(&service), "Main_Form.pFIBRestoreService1");
    EXPECT_EQ(ComponentPath(&lone), "Lone");
    EXPECT_EQ(ComponentPath(nullptr), "");
    form.RemoveComponent(&service);
    application.RemoveComponent(&form);
}
