#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/DiagnosisState.h"
#include "orvix/State.h"

namespace orvix {
namespace {

TEST(State, CopiesShareStorageAndEveryWriteNotifiesObservers) {
    State<std::string> cell("a");
    State<std::string> copy = cell;  // taken before the write
    std::vector<std::string> seen;
    cell.observe([&](const std::string& v) { seen.push_back(v); });
    copy.set("b");
    copy.set("b");  // an equal value is still a write that views must see
    EXPECT_EQ(cell.get(), "b");
    EXPECT_EQ(seen, (std::vector<std::string>{"b", "b"}));

    // The record's copies share their cells too, and its models.
    DiagnosisState state = test::fixtureState();
    DiagnosisState other = state;
    other.fileName = "scan.png";
    EXPECT_EQ(state.fileName.get(), "scan.png");
    EXPECT_EQ(other.model, state.model);
    EXPECT_EQ(other.model2, state.model2);
}

TEST(State, ObserverMayRemoveItselfAndIsNotCalledAgain) {
    State<int> cell(0);
    int calls = 0;
    std::size_t id = 0;
    id = cell.observe([&](const int&) {
        ++calls;
        cell.removeObserver(id);
    });
    cell.set(1);
    cell.set(2);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace orvix
