#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {

// Base of the program's components: an object with an owner and a name.
//
// An owner holds the components inserted into it and frees them, last first, when it is freed;
// they are found again by name. A component created with an owner but kept elsewhere (say, as a
// member) only records its owner. The owned list has its own lock, so one thread may walk it
// (ForEachComponent) while another inserts or frees components: a component is never destroyed
// while a walk is looking at it.
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr) noexcept : owner_(owner) {}
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const noexcept { return owner_; }

    std::string Name() const;
    void SetName(std::string name);

    // Takes over a component whose owner is this one. Returns it.
    TComponent& InsertComponent(std::unique_ptr<TComponent> component);
    // Hands an owned component back to the caller; empty when it is not owned by this one.
    std::unique_ptr<TComponent> RemoveComponent(const TComponent& component);
    // Removes an owned component and destroys it (outside the list's lock).
    void FreeComponent(const TComponent& component);

    // The first owned component whose name equals name ignoring ASCII case, or null.
    TComponent* FindComponent(std::string_view name) const;
    std::size_t ComponentCount() const;
    // Calls visit for each owned component in order, holding the list's lock throughout.
    void ForEachComponent(const std::function<void(TComponent&)>& visit) const;

private:
    TComponent* const owner_;
    mutable std::mutex name_mutex_;
    std::string name_;
    mutable std::mutex components_mutex_;
    std::vector<std::unique_ptr<TComponent>> components_;
};

// Creates a T with owner as its owner (T's constructor takes the owner first) and inserts it.
template <class T, class... Args>
T& CreateComponent(TComponent& owner, Args&&... args) {
    auto component = std::make_unique<T>(&owner, std::forward<Args>(args)...);
    T& created = *component;
    owner.InsertComponent(std::move(component));
    return created;
}

// A component made for the length of a scope. With an owner, it joins the owner's list when the
// holder is made (so give it fully set up: a walk of the list may find it from then on) and is
// freed from the list, under the list's lock, when the holder goes; without one, the holder
// keeps it alone.
template <class T>
class TScopedComponent {
public:
    TScopedComponent(TComponent* owner, std::unique_ptr<T> component)
        : owner_(owner), component_(component.get()) {
        if (owner_)
            owner_->InsertComponent(std::move(component));
        else
            alone_ = std::move(component);
    }
    ~TScopedComponent() {
        if (owner_) owner_->FreeComponent(*component_);
    }
    TScopedComponent(const TScopedComponent&) = delete;
    TScopedComponent& operator=(const TScopedComponent&) = delete;

    T& operator*() const noexcept { return *component_; }
    T* operator->() const noexcept { return component_; }

private:
    TComponent* const owner_;
    std::unique_ptr<T> alone_;
    T* const component_;
};

}  // namespace tarnwick
