// The patient and study of DICOM pictures: tags as DCMTK reads them from generated files, and
// the text rules that make untrusted tag values fit to show.

#include <gtest/gtest.h>

#include "DicomWriter.h"
#include "TestSupport.h"
#include "orvix/DicomIdentity.h"
#include "orvix/ImageDecoder.h"
#include "orvix/Utf8.h"

namespace orvix {
namespace {

std::size_t characters(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        const Utf8Character c = utf8CharacterAt(text, i);
        EXPECT_NE(c.length, 0u) << "not UTF-8 at byte " << i << " of " << text;
        i += c.length == 0 ? 1 : c.length;
    }
    return count;
}

TEST(DicomIdentity, PersonNamesReadAsAClinicianWritesThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"Doe^John", "Doe, John"},
        {"Doe", "Doe"},
        {"^John", "John"},
        {"Doe^John^Quincy^Dr^Jr", "Doe, Dr John Quincy, Jr"},
        {"Doe^^^^PhD", "Doe, PhD"},
        {"  Doe ^ John  ", "Doe, John"},
        {"Doe^John=\xe5\xb1\xb1\xe7\x94\xb0", "Doe, John"},                    // the alphabetic group first
        {"=\xe5\xb1\xb1\xe7\x94\xb0^\xe5\xa4\xaa\xe9\x83\x8e", "山田, 太郎"},  // else the ideographic
        {"^^^", ""},
        {"", ""},
        {"Doe^John^A^B^C^D", "Doe, B John A, C^D"},  // components past the fifth stay text
    };
    for (const auto& [dicom, shown] : cases) EXPECT_EQ(readablePersonName(dicom), shown) << dicom;
}

TEST(DicomIdentity, DatesAsIsoDatesAndAnythingElseAsItIs) {
    const std::pair<const char*, const char*> cases[] = {
        {"20240131", "2024-01-31"}, {"2024.01.31", "2024-01-31"}, {"20240131 ", "2024-01-31"},
        {"2024013", "2024013"},     {"2024-01-31", "2024-01-31"}, {"", ""},
        {"2024O131", "2024O131"},
    };
    for (const auto& [dicom, shown] : cases) EXPECT_EQ(readableDate(dicom), shown) << dicom;
}

// Text from a file is made display text: never a control, a reordering mark or a byte that is no
// UTF-8, and never longer than the limit.
TEST(DicomIdentity, UntrustedTextBecomesOneLineOfUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"Doe\nJohn\r\n", "Doe John"},
        {std::string("A\0B", 3), "AB"},
        {"\x1b$B\x1b(B", "$B(B"},            // ISO 2022 escapes that were not converted
        {"M\xfcller", "M\xef\xbf\xbdller"},  // Latin-1 taken as UTF-8: U+FFFD
        {"\xe2\x80\xae"
         "EOD\xe2\x80\xac",
         "EOD"},                     // right-to-left override, pop
        {"\xc2\x85x\xc2\x9b", "x"},  // C1 controls
        {"a \t\xc2\xa0 b", "a b"},
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate is no character
    };
    for (const auto& [bytes, shown] : cases) EXPECT_EQ(displayText(bytes), shown) << bytes;

    const std::string longest = displayText(std::string(10000, 'x') + "\xff");
    EXPECT_EQ(characters(longest), kMaxIdentityCharacters + 1);
    EXPECT_TRUE(longest.ends_with("\u2026"));
    EXPECT_EQ(displayText(std::string(kMaxIdentityCharacters, 'y')), std::string(kMaxIdentityCharacters, 'y'));
    EXPECT_EQ(characters(readablePersonName(std::string(5000, '^') + std::string(5000, 'z'))),
              kMaxIdentityCharacters + 1);
}

class DicomIdentityFile : public ::testing::Test {
protected:
    // A small DICOM picture with these text elements, decoded.
    Result<DecodedPicture> decoded(std::vector<test::DicomText> text) {
        test::DicomSpec spec{.width = 4, .height = 4, .text = std::move(text)};
        spec.samples.assign(16, 100);
        test::writeDicom(dir_ / "IM0001", spec);
        const auto bytes = readWholeFile(dir_ / "IM0001");
        if (!bytes) return bytes.error();
        return decodePicture(*bytes);
    }
    test::TempDir dir_;
};

TEST_F(DicomIdentityFile, EveryTagIsReadFromTheFile) {
    const auto picture = decoded({{0x0010, 0x0010, "Doe^John"},
                                  {0x0010, 0x0020, "12345"},
                                  {0x0010, 0x0030, "19500302"},
                                  {0x0010, 0x0040, "M"},
                                  {0x0008, 0x0020, "20240131"},
                                  {0x0008, 0x0050, "A7"},
                                  {0x0018, 0x5101, "PA"}});
    ASSERT_TRUE(picture) << picture.error().message;
    ASSERT_TRUE(picture->dicom.has_value());
    EXPECT_EQ(*picture->dicom, (DicomIdentity{"Doe, John", "12345", "1950-03-02", "M", "2024-01-31", "A7", "PA"}));
    EXPECT_EQ(picture->image.pixelWidth(), 4);
}

// The file's Specific Character Set is honoured where it is known; where it is not, or a value
// is not in it, the bytes are made display text, and the picture is decoded all the same.
TEST_F(DicomIdentityFile, CharacterSetsAreConvertedOrTheBytesMadeSafe) {
    struct Case {
        const char* name;
        std::string charset;  // "" for none
        std::string patientName;
        std::string shown;
    };
    const Case cases[] = {
        {"Latin-1", "ISO_IR 100", "M\xfcller^J\xfcrgen", "Müller, Jürgen"},
        {"UTF-8", "ISO_IR 192", "M\xc3\xbcller^J\xc3\xbcrgen", "Müller, Jürgen"},
        {"Cyrillic", "ISO_IR 144", "\xb8\xd2\xd0\xdd\xde\xd2^\xb8\xd2\xd0\xdd", "Иванов, Иван"},
        {"no character set, Latin-1 bytes", "", "M\xfcller", "M\xef\xbf\xbdller"},
        {"an unknown character set", "ISO_IR 999", "M\xfcller", "M\xef\xbf\xbdller"},
        {"controls and a long value", "", "Doe\x1b\x07^" + std::string(300, 'J'),
         "Doe, " + std::string(kMaxIdentityCharacters - 5, 'J') + "\u2026"},
    };
    for (const auto& c : cases) {
        std::vector<test::DicomText> text{{0x0010, 0x0010, c.patientName}};
        if (!c.charset.empty()) text.push_back({0x0008, 0x0005, c.charset});
        const auto picture = decoded(text);
        ASSERT_TRUE(picture) << c.name << ": " << picture.error().message;
        ASSERT_TRUE(picture->dicom.has_value()) << c.name;
        EXPECT_EQ(picture->dicom->patientName, c.shown) << c.name;
    }
}

}  // namespace
}  // namespace orvix
