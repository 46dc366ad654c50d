#include "core/Component.h"

#include <algorithm>
#include <cassert>

#include "core/StrUtils.h"

namespace tarnwick {

TComponent::~TComponent() {
    std::vector<std::unique_ptr<TComponent>> owned;
    {
        std::lock_guard lock(components_mutex_);
        owned.swap(components_);
    }
    while (!owned.empty()) owned.pop_back();
}

std::string TComponent::Name() const {
    std::lock_guard lock(name_mutex_);
    return name_;
}

void TComponent::SetName(std::string name) {
    std::lock_guard lock(name_mutex_);
    name_ = std::move(name);
}

TComponent& TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
    assert(component && component->Owner() == this);
    TComponent& inserted = *component;
    std::lock_guard lock(components_mutex_);
    components_.push_back(std::move(component));
    return inserted;
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(const TComponent& component) {
    std::lock_guard lock(components_mutex_);
    auto it = std::find_if(components_.begin(), components_.end(),
                           [&](const auto& c) { return c.get() == &component; });
    if (it == components_.end()) return nullptr;
    std::unique_ptr<TComponent> removed = std::move(*it);
    components_.erase(it);
    return removed;
}

void TComponent::FreeComponent(const TComponent& component) {
    RemoveComponent(component).reset();
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    std::lock_guard lock(components_mutex_);
    for (const auto& c : components_)
        if (SameText(c->Name(), name)) return c.get();
    return nullptr;
}

std::size_t TComponent::ComponentCount() const {
    std::lock_guard lock(components_mutex_);
    return components_.size();
}

void TComponent::ForEachComponent(const std::function<void(TComponent&)>& visit) const {
    std::lock_guard lock(components_mutex_);
    for (const auto& c : components_) visit(*c);
}

}  // namespace tarnwick
