// The text of a package's check record.
#include "cds/client/check_record.hpp"

#include "cds/client/http_answer.hpp"
#include "cds/client/sha256.hpp"

namespace cdsclient {

namespace {

constexpr std::string_view kFirstLine = "korvo-cds-check 1";

std::optional<uint64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::array<uint8_t, 32>> digest_from_hex(std::string_view text) {
    if (text.size() != 64)
        return std::nullopt;
    std::array<uint8_t, 32> digest{};
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = hex_digit(text[2 * i]);
        const int low = hex_digit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return digest;
}

bool printable(std::string_view text) {
    if (text.empty() || text.size() > HttpAnswer::kMaxValidator)
        return false;
    for (const char c : text)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

}  // namespace

std::string CheckRecord::encode() const {
    std::string text(kFirstLine);
    text += "\nsize " + std::to_string(size) + "\ninode " + std::to_string(inode) + "\n";
    if (!etag.empty())
        text += "etag " + etag + "\n";
    if (!last_modified.empty())
        text += "last-modified " + last_modified + "\n";
    if (sha256)
        text += "sha256 " + hex_text(*sha256) + "\n";
    return text;
}

std::optional<CheckRecord> CheckRecord::decode(std::string_view text) {
    if (text.size() > kMaxText || text.substr(0, kFirstLine.size() + 1) != "korvo-cds-check 1\n")
        return std::nullopt;
    text.remove_prefix(kFirstLine.size() + 1);
    CheckRecord record;
    bool has_size = false, has_inode = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;  // every line ends in a newline: a cut record is refused
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const size_t space = line.find(' ');
        if (space == std::string_view::npos)
            return std::nullopt;
        const std::string_view name = line.substr(0, space);
        const std::string_view value = line.substr(space + 1);
        if (name == "size" && !has_size) {
            const auto size = decimal(value);
            if (!size)
                return std::nullopt;
            record.size = *size;
            has_size = true;
        } else if (name == "inode" && !has_inode) {
            const auto inode = decimal(value);
            if (!inode)
                return std::nullopt;
            record.inode = *inode;
            has_inode = true;
        } else if (name == "etag" && record.etag.empty() && printable(value)) {
            record.etag = value;
        } else if (name == "last-modified" && record.last_modified.empty() && printable(value)) {
            record.last_modified = value;
        } else if (name == "sha256" && !record.sha256) {
            record.sha256 = digest_from_hex(value);
            if (!record.sha256)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!has_size || !has_inode)
        return std::nullopt;
    return record;
}

}  // namespace cdsclient
