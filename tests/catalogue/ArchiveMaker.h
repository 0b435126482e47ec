#pragma once
// Archives for the tests, written with libarchive (zip) and zlib (gzip headers by hand).
#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

struct MemberSpec {
    std::string name;
    std::string data;
};

inline void makeZip(const std::string& path, const std::vector<MemberSpec>& members, bool deflate = true)
{
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (deflate)
        archive_write_zip_set_compression_deflate(a);
    else
        archive_write_zip_set_compression_store(a);
    if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(a));
    for (const auto& m : members) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, m.name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(m.data.size()));
        archive_write_header(a, e);
        archive_write_data(a, m.data.data(), m.data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// A plain gzip file as the system's gzip tool writes it.
inline void makeGzip(const std::string& path, const std::string& data)
{
    archive* a = archive_write_new();
    archive_write_set_format_raw(a);
    archive_write_add_filter_gzip(a);
    if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(a));
    archive_entry* e = archive_entry_new();
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
    archive_write_header(a, e);
    archive_write_data(a, data.data(), data.size());
    archive_entry_free(e);
    archive_write_close(a);
    archive_write_free(a);
}

inline std::string rawDeflate(const std::string& data)
{
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline void appendLe32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}

inline std::uint32_t crcOf(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline void appendLe16(std::string& s, std::uint16_t v)
{
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

// A ZIP built by hand: one deflated stream behind one local header, and a central
// directory entry for each name that points at that same header, with honest sizes
// and CRC. `declaredSize`, when given, replaces the uncompressed size in every entry.
inline std::string zipSharingOneStream(
    const std::string& data, const std::vector<std::string>& names, std::uint32_t declaredSize = 0)
{
    const std::string packed = rawDeflate(data);
    const std::uint32_t size = declaredSize ? declaredSize : static_cast<std::uint32_t>(data.size());
    auto header = [&](std::uint32_t signature, const std::string& name, bool central) {
        std::string h;
        appendLe32(h, signature);
        if (central)
            appendLe16(h, 20); // made by
        appendLe16(h, 20); // needed
        appendLe16(h, 0); // flags
        appendLe16(h, 8); // deflated
        appendLe32(h, 0); // time and date
        appendLe32(h, crcOf(data));
        appendLe32(h, static_cast<std::uint32_t>(packed.size()));
        appendLe32(h, size);
        appendLe16(h, static_cast<std::uint16_t>(name.size()));
        appendLe16(h, 0); // extra
        if (central) {
            appendLe16(h, 0); // comment
            appendLe16(h, 0); // disk
            appendLe16(h, 0); // internal attributes
            appendLe32(h, 0); // external attributes
            appendLe32(h, 0); // local header offset
        }
        return h + name;
    };
    std::string zip = header(0x04034b50, names.front(), false) + packed;
    const std::size_t cdStart = zip.size();
    for (const std::string& name : names)
        zip += header(0x02014b50, name, true);
    const std::size_t cdSize = zip.size() - cdStart;
    appendLe32(zip, 0x06054b50);
    appendLe32(zip, 0); // disks
    appendLe16(zip, static_cast<std::uint16_t>(names.size()));
    appendLe16(zip, static_cast<std::uint16_t>(names.size()));
    appendLe32(zip, static_cast<std::uint32_t>(cdSize));
    appendLe32(zip, static_cast<std::uint32_t>(cdStart));
    appendLe16(zip, 0); // comment
    return zip;
}

// One gzip member with every optional header field (FEXTRA, FNAME, FCOMMENT, FHCRC).
inline std::string gzipMemberWithAllFields(const std::string& data)
{
    std::string h = {'\x1f', '\x8b', 8, 0x1e, 0, 0, 0, 0, 0, 3};
    h += std::string("\x04\x00"
                     "ab\x01\x02",
        6);
    h += std::string("inner name.txt") + '\0';
    h += std::string("a comment") + '\0';
    const std::uint32_t hcrc = crcOf(h) & 0xFFFF;
    h.push_back(static_cast<char>(hcrc));
    h.push_back(static_cast<char>(hcrc >> 8));
    h += rawDeflate(data);
    appendLe32(h, crcOf(data));
    appendLe32(h, static_cast<std::uint32_t>(data.size()));
    return h;
}

} // namespace qm::test
