#pragma once
// The component base: a named object owned by another, freed with it, whose
// settings may be read from a stored description. Components tell each other
// when one goes away so that no one keeps a dangling reference.

#include <string>
#include <vector>

class TComponent {
  public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const {
        return components_.at(static_cast<std::size_t>(index));
    }
    TComponent* FindComponent(const std::string& name) const;

    // Set while the settings are being read from a stored description.
    bool IsLoading() const { return loading_; }
    // Set while the component is edited in a design environment.
    bool IsDesigning() const { return designing_; }
    void SetDesigning(bool value) { designing_ = value; }
    bool IsDestroying() const { return destroying_; }

    // The loading bracket: settings written between the two calls are the
    // stored ones; EndLoad runs AfterLoad once they are all in.
    void BeginLoad() { loading_ = true; }
    void EndLoad();

    // Asks to be told (ComponentRemoved) when `other` goes away.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    // Hands an owned component to this one (or takes it away with nullptr).
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

  protected:
    // Called once all stored settings were read.
    virtual void AfterLoad() {}
    // A component this one is linked with (owned sibling, owner's child, or a
    // free-notification partner) is going away.
    virtual void ComponentRemoved(TComponent* /*component*/) {}
    // A component joined the same owner.
    virtual void ComponentInserted(TComponent* /*component*/) {}

  private:
    void NotifyOwnerSide(TComponent* component, bool inserted);

    std::string name_;
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    bool loading_ = false;
    bool designing_ = false;
    bool destroying_ = false;
};

// The dotted path of owner names down to the component; unnamed levels are
// skipped ("Main_Form.pFIBRestoreService1").
std::string ComponentPath(const TComponent* component);
