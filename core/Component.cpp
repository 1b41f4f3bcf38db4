#include "core/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) {
    if (owner)
        owner->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Partners learn of our end before anything of us is gone.
    auto partners = freeNotifies_;
    freeNotifies_.clear();
    for (TComponent* partner : partners) {
        partner->RemoveFreeNotification(this);
        partner->ComponentRemoved(this);
    }
    // Owned components go first, last created first.
    while (!components_.empty()) {
        TComponent* child = components_.back();
        delete child;  // its destructor takes it out of components_
    }
    if (owner_)
        owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty())
        return nullptr;
    for (TComponent* c : components_)
        if (c->name_ == name)
            return c;
    return nullptr;
}

void TComponent::EndLoad() {
    if (!loading_)
        return;
    loading_ = false;
    AfterLoad();
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this)
        return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
        freeNotifies_.push_back(other);
    if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) ==
        other->freeNotifies_.end())
        other->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other),
                        freeNotifies_.end());
}

void TComponent::InsertComponent(TComponent* component) {
    if (!component || component->owner_ == this)
        return;
    if (component->owner_)
        component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
    NotifyOwnerSide(component, true);
}

void TComponent::RemoveComponent(TComponent* component) {
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it == components_.end())
        return;
    components_.erase(it);
    component->owner_ = nullptr;
    NotifyOwnerSide(component, false);
}

void TComponent::NotifyOwnerSide(TComponent* component, bool inserted) {
    // The owner and every sibling hear of it, as the owner's own children do.
    auto notify = [&](TComponent* c) {
        if (c == component)
            return;
        if (inserted)
            c->ComponentInserted(component);
        else
            c->ComponentRemoved(component);
    };
    notify(this);
    auto siblings = components_;
    for (TComponent* c : siblings) notify(c);
}

std::string ComponentPath(const TComponent* component) {
    std::string result;
    for (const TComponent* c = component; c; c = c->Owner()) {
        if (c->Name().empty())
            continue;
        result.insert(0, result.empty() ? c->Name() : c->Name() + ".");
    }
    return result;
}
