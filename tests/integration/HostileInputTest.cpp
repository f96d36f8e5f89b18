// Every generated hostile input through the import run: no crash, the outcome the
// import run promises, and a diagnostic for everything it cannot analyse.

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "orvix/Console.h"
#include "orvix/FileUrl.h"
#include "orvix/ImportRun.h"

namespace orvix {
namespace {

std::filesystem::path corpus() { return ORVIX_HOSTILE_CORPUS; }

std::string fromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

const char* statusName(ImportStatus s) {
    switch (s) {
        case ImportStatus::Analysed: return "ok";
        case ImportStatus::Undecodable: return "undecodable";
        case ImportStatus::Unreadable: return "unreadable";
        case ImportStatus::Unclassified: return "unclassified";
        case ImportStatus::ImporterFailed: return "importer failed";
    }
    return "?";
}

TEST(HostileInputs, EachGivesItsOutcomeAndLeavesThePreviousPictureOtherwise) {
    const auto expected = nlohmann::json::parse(test::readBytes(corpus() / "expected.json"));
    ASSERT_GT(expected.size(), 40u);
    // Why some are refused: the header is read before anything is allocated; no read waits on a pipe.
    const std::map<std::string, std::string> reasons = {
        {"declares-40000x40000.png", "picture declares more than 100000000 pixels"},
        {"bomb-12000x12000.png", "picture declares more than 100000000 pixels"},
        {"directory.png", "is a directory"},
        {"fifo.png", "is not a regular file"},
    };

    DiagnosisState state = test::fixtureState();
    std::ostringstream console, diagnostics;
    setConsoleStream(&console);
    setDiagnosticStream(&diagnostics);
    const auto good = test::fixtures() / "pictures" / "other-xray-knee.png";
    for (const auto& [hex, outcome] : expected.items()) {
        const std::string name = fromHex(hex);
        SCOPED_TRACE(name);
        ASSERT_EQ(importImage(ImporterOutcome::success(good), state).status, ImportStatus::Analysed);
        const std::string report = state.fullText;
        const std::uint8_t* picture = state.img.get().pixels().data;
        state.showAlert = true;
        console.str("");
        diagnostics.str("");

        const auto result = importImage(ImporterOutcome::success(corpus() / name), state);
        EXPECT_FALSE(state.showAlert.get());
        EXPECT_EQ(statusName(result.status), outcome.get<std::string>()) << result.message;
        if (const auto why = reasons.find(name); why != reasons.end()) {
            EXPECT_NE(result.message.find(why->second), std::string::npos) << result.message;
        }
        if (result.status == ImportStatus::Analysed) {
            EXPECT_EQ(state.fileName.get(), name);
            EXPECT_TRUE(result.gate && result.disease);
            EXPECT_EQ(diagnostics.str(), "");
        } else {
            // The old report must not be saved under the new name, nor shown beside another picture.
            EXPECT_EQ(state.fileName.get(), "other-xray-knee.png");
            EXPECT_EQ(state.fullText.get(), report);
            EXPECT_EQ(state.img.get().pixels().data, picture);
            EXPECT_EQ(console.str(), fileURLString(corpus() / name) + "\n");
            const std::string diag = diagnostics.str();
            EXPECT_EQ(std::count(diag.begin(), diag.end(), '\n'), std::count(name.begin(), name.end(), '\n') + 1)
                << "exactly one diagnostic line: " << diag;
            EXPECT_NE(diag.find(name), std::string::npos) << diag;
        }
    }
    setConsoleStream(&std::cout);
    setDiagnosticStream(&std::cerr);
}

}  // namespace
}  // namespace orvix
