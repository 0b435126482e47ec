#include "datasets/OmmWriter.h"

#include "datasets/DataSetFormat.h"

#include <algorithm>
#include <utility>

namespace qm {

namespace {

// One single-byte character as UTF-8.
void appendUtf8(std::string& out, unsigned char c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendHex2(std::string& out, unsigned char c)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 0xF]);
}

constexpr std::string_view kXmlStart = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ndm>\n";
constexpr std::string_view kXmlEnd = "</ndm>\n";
constexpr std::string_view kOriginator = "Skarvelin Quillmaren";

// Only the name needs escaping: every other value is made of digits, letters, blanks,
// "-", "+", "." and ":".
void appendXmlElement(std::string& out, std::string_view tag, std::string_view value, bool text = false)
{
    out.push_back('<');
    out.append(tag);
    out.push_back('>');
    if (text)
        appendXmlText(out, value);
    else
        out.append(value);
    out.append("</");
    out.append(tag);
    out.push_back('>');
}

} // namespace

void appendXmlText(std::string& out, std::string_view text)
{
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '\t':
        case '\n':
        case '\r':
            // As references, so that a reader's line-end handling keeps them.
            out.append("&#");
            out.append(std::to_string(c));
            out.push_back(';');
            break;
        default:
            if (c < 0x20)
                out.append("\xEF\xBF\xBD"); // XML 1.0 has no way to carry the other control characters
            else
                appendUtf8(out, c);
        }
    }
}

void appendCsvField(std::string& out, std::string_view text)
{
    // A comma, quote or line end would break the row; any other control byte (a tab,
    // which some readers take for a separator) is quoted too, and kept as it is.
    const bool quoted = std::any_of(
        text.begin(), text.end(), [](char c) { return c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20; });
    if (quoted)
        out.push_back('"');
    for (char ch : text) {
        if (ch == '"')
            out.push_back('"');
        appendUtf8(out, static_cast<unsigned char>(ch));
    }
    if (quoted)
        out.push_back('"');
}

void appendJsonString(std::string& out, std::string_view text)
{
    out.push_back('"');
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c < 0x20) {
            out.append("\\u00");
            appendHex2(out, c);
        } else {
            appendUtf8(out, c);
        }
    }
    out.push_back('"');
}

OmmWriter::OmmWriter(OmmFormat format, const std::string& path, std::string creationDate)
    : format_(format)
    , creationDate_(std::move(creationDate))
    , replacing_(path)
{
    replacing_.removeLeftovers();
    out_.create(replacing_.createTemp());
    switch (format_) {
    case OmmFormat::Xml:
        out_.write(kXmlStart);
        break;
    case OmmFormat::Csv:
        for (const OmmFieldDef& field : kOmmFields) {
            if (&field != &kOmmFields.front())
                chunk_.push_back(',');
            chunk_.append(field.key);
        }
        chunk_.append("\r\n");
        out_.write(chunk_);
        break;
    case OmmFormat::Json:
        out_.write("[");
        break;
    case OmmFormat::None:
        break;
    }
}

void OmmWriter::add(const char* records, std::size_t n)
{
    chunk_.clear();
    for (std::size_t i = 0; i < n; ++i) {
        values_.read(records + i * kDataSetRecordSize);
        appendObject();
        // Handed on in pieces of about the writer's buffer, whatever the batch.
        if (chunk_.size() >= BufferedWriter::kBufferSize) {
            out_.write(chunk_);
            chunk_.clear();
        }
    }
    out_.write(chunk_);
}

void OmmWriter::appendObject()
{
    std::string& out = chunk_;
    switch (format_) {
    case OmmFormat::Xml: {
        out.append("<omm id=\"CCSDS_OMM_VERS\" version=\"2.0\">\n<header>");
        appendXmlElement(out, "CREATION_DATE", creationDate_);
        appendXmlElement(out, "ORIGINATOR", kOriginator, true);
        out.append("</header>\n<body><segment><metadata>");
        OmmGroup group = OmmGroup::Metadata;
        for (std::size_t f = 0; f < kOmmFieldCount; ++f) {
            if (kOmmFields[f].group != group) {
                group = kOmmFields[f].group;
                out.append(group == OmmGroup::MeanElements ? "</metadata><data><meanElements>"
                                                           : "</meanElements><tleParameters>");
            }
            appendXmlElement(out, kOmmFields[f].key, values_[f], f == kOmmObjectName);
        }
        out.append("</tleParameters></data></segment></body>\n</omm>\n");
        break;
    }
    case OmmFormat::Csv:
        for (std::size_t f = 0; f < kOmmFieldCount; ++f) {
            if (f > 0)
                out.push_back(',');
            if (f == kOmmObjectName)
                appendCsvField(out, values_[f]);
            else
                out.append(values_[f]);
        }
        out.append("\r\n");
        break;
    case OmmFormat::Json:
        out.append(first_ ? "\n{" : ",\n{");
        for (std::size_t f = 0; f < kOmmFieldCount; ++f) {
            if (f > 0)
                out.push_back(',');
            out.push_back('"');
            out.append(kOmmFields[f].key);
            out.append("\":");
            const std::string_view value = values_[f];
            if (f == kOmmObjectName) {
                appendJsonString(out, value);
            } else if (!kOmmFields[f].number) {
                out.push_back('"');
                out.append(value);
                out.push_back('"');
            } else if (value.empty()) {
                out.append("null"); // a field the element set does not hold as a number
            } else {
                out.append(value);
            }
        }
        out.push_back('}');
        break;
    case OmmFormat::None:
        break;
    }
    first_ = false;
}

void OmmWriter::close()
{
    if (format_ == OmmFormat::Xml)
        out_.write(kXmlEnd);
    else if (format_ == OmmFormat::Json)
        out_.write("\n]\n");
    out_.close();
}

} // namespace qm
