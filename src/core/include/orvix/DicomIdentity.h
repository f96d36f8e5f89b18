#pragma once
// Who and what a DICOM picture shows: the patient and the study, read from the picture's data
// set (DicomDecoder.h) as text fit to show. A DICOM file's tags are untrusted text: every value
// here is UTF-8 (converted from the file's Specific Character Set where DCMTK can, else each
// byte that is no UTF-8 character becomes U+FFFD), without control or direction-changing
// characters, with runs of white space made one space and no more than kMaxIdentityCharacters
// characters (longer values end in "…"). A tag that is absent or empty gives "".

#include <cstddef>
#include <string>
#include <string_view>

namespace orvix {

inline constexpr std::size_t kMaxIdentityCharacters = 64;

struct DicomIdentity {
    std::string patientName;      // Patient's Name (0010,0010), as readablePersonName gives it
    std::string patientId;        // Patient ID (0010,0020)
    std::string birthDate;        // Patient's Birth Date (0010,0030), as readableDate gives it
    std::string sex;              // Patient's Sex (0010,0040): M, F or O as the file says
    std::string studyDate;        // Study Date (0008,0020), as readableDate gives it
    std::string accessionNumber;  // Accession Number (0008,0050)
    std::string viewPosition;     // View Position (0018,5101): PA, AP, LL, ...

    bool operator==(const DicomIdentity&) const = default;
};

// Untrusted bytes as display text, as above.
std::string displayText(std::string_view bytes, std::size_t maxCharacters = kMaxIdentityCharacters);

// A DICOM person name, "Family^Given^Middle^Prefix^Suffix" (the first component group, before
// '=', that is not empty), the way a clinician writes it in a list: "Family, Prefix Given
// Middle, Suffix", each part left out where empty ("Doe^John" gives "Doe, John"; "Doe" gives
// "Doe"; "^John" gives "John"). Display text as above.
std::string readablePersonName(std::string_view personName);

// A DICOM date "YYYYMMDD" as "YYYY-MM-DD" (also the old "YYYY.MM.DD"); anything else as
// display text, unchanged.
std::string readableDate(std::string_view date);

// One line naming the patient and the study for the window's header and the examination PDF:
// "Doe, John · ID 12345 · born 1950-03-02 · sex M · study 2024-01-31 · accession A7 · view PA",
// each part left out where its value is empty ("" when all are).
std::string identityLine(const DicomIdentity& identity);

// The patient in short, for a title or a list: "Doe, John (ID 12345)", "Doe, John", "ID 12345",
// or "".
std::string patientSummary(const DicomIdentity& identity);

}  // namespace orvix
