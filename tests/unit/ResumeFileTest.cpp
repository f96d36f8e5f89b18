// orvix-screen's own files: the names in its rows and its resume file.

#include <gtest/gtest.h>

#include "PathText.h"
#include "ResumeFile.h"
#include "TestSupport.h"

namespace orvix::cli {
namespace {

TEST(PathText, EveryNameHasItsOwnTextAndComesBack) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        // bytes, JSON text, text-row text
        {"/data/scan 1.png", "/data/scan 1.png", "/data/scan 1.png"},
        {"/data/Röntgen.png", "/data/Röntgen.png", "/data/Röntgen.png"},
        {"/data/x\xff.png", "/data/x\\xFF.png", "/data/x\\xFF.png"},
        {"/data/x\xfe.png", "/data/x\\xFE.png", "/data/x\\xFE.png"},
        {"/data/x\xc3.png", "/data/x\\xC3.png", "/data/x\\xC3.png"},                           // cut UTF-8
        {"/data/\xed\xa0\x80.png", "/data/\\xED\\xA0\\x80.png", "/data/\\xED\\xA0\\x80.png"},  // a surrogate
        {"/data/two\nlines\t.png", "/data/two\nlines\t.png", "/data/two\\x0Alines\\x09.png"},
        // Backslashes stay single unless they would read as an escape.
        {"C:\\a.png", "C:\\a.png", "C:\\a.png"},
        {"a\\xFF.png", "a\\\\xFF.png", "a\\\\xFF.png"},
        {"a\\\\b", "a\\\\\\b", "a\\\\\\b"},
        {"a\\\xff", "a\\\\\\xFF", "a\\\\\\xFF"},
        {"a\\", "a\\", "a\\"},
        {"a\\\n", "a\\\n", "a\\\\\\x0A"},
    };
    for (const auto& [bytes, json, text] : cases) {
        EXPECT_EQ(pathText(bytes), json) << bytes;
        EXPECT_EQ(pathText(bytes, PathEscape::InvalidUtf8AndControls), text) << bytes;
        EXPECT_EQ(readPathText(json), bytes) << json;
        EXPECT_EQ(readPathText(text), bytes) << text;
    }
}

// Every name of up to four bytes from those that take part in an escape comes back, and the
// text-row form holds no control character.
TEST(PathText, AllShortNamesOfTheEscapingBytesComeBack) {
    const std::string alphabet = "\\xAf\xff\xc3\xa9\n";
    std::vector<std::string> names{""};
    for (std::size_t length = 0, from = 0; length < 4; ++length) {
        const std::size_t to = names.size();
        for (std::size_t k = from; k < to; ++k)
            for (const char c : alphabet) names.push_back(names[k] + c);
        from = to;
    }
    for (const auto& name : names) {
        const std::string json = pathText(name), text = pathText(name, PathEscape::InvalidUtf8AndControls);
        ASSERT_EQ(readPathText(json), name) << json;
        ASSERT_EQ(readPathText(text), name) << text;
        ASSERT_EQ(text.find('\n'), std::string::npos) << text;
    }
}

TEST(ResumeFile, RefusesToGrowPastItsLimitAndKeepsWhatItHas) {
    test::TempDir dir;
    const auto path = dir / "run.jsonl";
    const std::string line = R"({"path":"/data/b.png","status":"ok"})"
                             "\n";
    // One row, padded (JSON allows the spaces) to leave room for one line more.
    {
        std::ofstream out(path, std::ios::binary);
        const std::string spaces(1 << 20, ' ');
        std::uintmax_t left = kMaxResumeBytes - 2 * line.size();
        for (; left >= spaces.size(); left -= spaces.size()) out << spaces;
        out << std::string(left, ' ') << line;
    }
    auto file = ResumeFile::open(path);
    ASSERT_TRUE(file) << file.error().message;
    EXPECT_TRUE(file->answered("/data/b.png"));
    EXPECT_FALSE(file->answered("/data/c.png"));
    EXPECT_TRUE(file->append(line)) << "up to the limit";
    const auto refused = file->append(line);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("256 MiB"), std::string::npos) << refused.error().message;
    EXPECT_EQ(std::filesystem::file_size(path), kMaxResumeBytes);
}

}  // namespace
}  // namespace orvix::cli
