#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/DiagnosisState.h"
#include "orvix/State.h"

namespace orvix {
namespace {

TEST(State, CopiesShareStorageAndWritesNotifyObservers) {
    State<std::string> cell("a");
    State<std::string> copy = cell;  // taken before the write
    std::vector<std::string> seen;
    cell.observe([&](const std::string& v) { seen.push_back(v); });

    copy.set("b");
    EXPECT_EQ(cell.get(), "b");
    EXPECT_TRUE(copy.sharesStorageWith(cell));
    copy.set("b");  // an equal value is still a write that views must see
    EXPECT_EQ(seen, (std::vector<std::string>{"b", "b"}));
}

TEST(State, RemovedObserverIsNotCalledAndObserverMayRemoveItself) {
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

TEST(State, BindingWritesThroughToTheCell) {
    State<std::int64_t> option(3);
    Binding<std::int64_t> binding(option);
    binding.set(0);
    EXPECT_EQ(option.get(), 0);
}

TEST(DiagnosisState, DefaultsBeforeAnyImport) {
    DiagnosisState state = test::fixtureState();
    EXPECT_FALSE(state.showAlert.get());
    EXPECT_EQ(state.fullText.get(), "");
    ASSERT_EQ(state.total.size(), 4u);
    EXPECT_EQ(state.total, (std::vector<std::string>{"Pneumonia", "Brain Tumor", "Heart Disease", "???"}));
    EXPECT_EQ(state.option.get(), 0);
    EXPECT_EQ(state.total[static_cast<std::size_t>(state.option.get())], "Pneumonia");
    EXPECT_EQ(state.text.get(), "");
    EXPECT_EQ(state.fileName.get(), "");
    EXPECT_FALSE(state.openFile.get());
    EXPECT_FALSE(state.saveFile.get());
    EXPECT_TRUE(state.img.get().isEmpty());
    EXPECT_EQ(state.img.get().size().width, 0.0);
    EXPECT_EQ(state.accuracy.get(), 0.0);
    EXPECT_EQ(state.classificationLabel.get(), "");
    EXPECT_EQ(state.classificationLabel2.get(), "");
    EXPECT_NE(state.model, nullptr);
    EXPECT_NE(state.model2, nullptr);
}

TEST(DiagnosisState, CopiesShareCellsAndModels) {
    DiagnosisState state = test::fixtureState();
    DiagnosisState copy = state;
    copy.fileName = "scan.png";
    copy.accuracy = 0.25;
    EXPECT_EQ(state.fileName.get(), "scan.png");
    EXPECT_EQ(state.accuracy.get(), 0.25);
    EXPECT_EQ(copy.model, state.model);
    EXPECT_EQ(copy.model2, state.model2);
}

TEST(DiagnosisState, ToggleOpenFileTwiceLeavesItFalse) {
    DiagnosisState state = test::fixtureState();
    state.toggleOpenFile();
    EXPECT_TRUE(state.openFile.get());
    state.toggleOpenFile();
    EXPECT_FALSE(state.openFile.get());
}

}  // namespace
}  // namespace orvix
