#pragma once
// Whether a downloaded body is the kind of file its name announces. An error page or a
// proxy's notice stored under a product's name would never be fetched again, so a body
// is stored only when it passes. The checks read a few bytes at the start and the end
// (a text is scanned in blocks), never the whole body at once.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

enum class ProductKind {
    Zip, // the name ends ".zip", which the processing run unpacks as a ZIP archive
    Gzip, // the name ends ".gz"
    Text, // any other name
};

ProductKind productKindOf(std::string_view name);

// Reads up to `n` bytes at `offset` into `buffer`; returns the count, 0 at the end.
using ReadSomeAt = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t n)>;

// A body of `size` bytes, read through `read`, is of `kind`:
// - Zip: a local-header signature first, and an end of central directory in the last
//   22 + 65535 bytes whose comment fits the file, on one disk, without the 64-bit
//   escapes, with a central directory inside the file that begins with a central header;
// - Gzip: the gzip magic and the deflate method;
// - Text: no NUL byte, and not markup: the first byte after blanks (and a UTF-8 byte
//   order mark) is not "<".
bool holdsKind(ProductKind kind, std::uint64_t size, const ReadSomeAt& read);

// The same for a file; a file that cannot be read raises IoError.
bool fileHoldsKind(const std::string& path, ProductKind kind);

// A file that fileHoldsKind() took unpacks whole as the processing run unpacks it:
// every ZIP member it may read (those matching kCatalogueMemberMask or
// kReportMemberMask), or every member of a gzip file, inflates to its end with its
// CRC-32 and length. A text is whole as it is. The file is read as it is unpacked and
// nothing is written; a file that cannot be read raises IoError.
bool fileUnpacksWhole(const std::string& path, ProductKind kind);

// Why a body of `kind` was refused, for the status line and the log: not of its kind,
// or of its kind but damaged.
std::string_view notOfKindText(ProductKind kind);
std::string_view damagedText(ProductKind kind);

} // namespace qm
