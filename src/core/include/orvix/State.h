#pragma once
// State cells of the diagnosis screen.
//
// A State<T> is a handle to a shared slot holding a value and its observers.
// Copies of a State share the slot, so a copy of the record that holds the cells
// (taken by a button action, say) reads and writes the one screen's values.
// Every write notifies the observers in the order they were added; the window
// observes the cells its widgets read and refreshes those widgets.
//
// Binding<T> is the two-way handle given to a view that both reads and writes a
// cell (the importer's openFile, the sidebar's option, the editor's fullText).
// Single-threaded by design: every read and write happens on the main thread.

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace orvix {

template <class T>
class State {
public:
    using Observer = std::function<void(const T&)>;

    State() : slot_(std::make_shared<Slot>()) {}
    explicit State(T initial) : slot_(std::make_shared<Slot>(Slot{std::move(initial), {}})) {}

    const T& get() const { return slot_->value; }
    operator const T&() const { return get(); }

    // Replaces the value and notifies every observer, even when the value is equal:
    // a write is what makes the views read the cell again.
    void set(T value) {
        slot_->value = std::move(value);
        notify();
    }
    State& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Runs fn on the stored value in place, then notifies (one read-modify-write).
    template <class Fn>
    void modify(Fn&& fn) {
        std::forward<Fn>(fn)(slot_->value);
        notify();
    }

    // Adds an observer; returns its id for removeObserver.
    std::size_t observe(Observer observer) {
        slot_->observers.emplace_back(++slot_->nextId, std::move(observer));
        return slot_->nextId;
    }
    void removeObserver(std::size_t id) {
        std::erase_if(slot_->observers, [id](const auto& entry) { return entry.first == id; });
    }

    bool sharesStorageWith(const State& other) const { return slot_ == other.slot_; }

private:
    struct Slot {
        T value{};
        std::vector<std::pair<std::size_t, Observer>> observers;
        std::size_t nextId = 0;
    };

    void notify() {
        // Copy first: an observer may add or remove observers while being called.
        auto observers = slot_->observers;
        for (auto& entry : observers) entry.second(slot_->value);
    }

    std::shared_ptr<Slot> slot_;
};

template <class T>
class Binding {
public:
    explicit Binding(State<T> cell) : cell_(std::move(cell)) {}

    const T& get() const { return cell_.get(); }
    void set(T value) { cell_.set(std::move(value)); }
    std::size_t observe(typename State<T>::Observer observer) { return cell_.observe(std::move(observer)); }
    void removeObserver(std::size_t id) { cell_.removeObserver(id); }

private:
    State<T> cell_;
};

}  // namespace orvix
