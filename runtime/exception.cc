// The runtime's exception class: resolving a raised record's type from its
// chain, rendering its text, and freeing it with the last copy.
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/raise.hpp"
#include "runtime/registry.hpp"
#include "runtime/render.hpp"
#include "runtime/tc_walk.hpp"

namespace korvo::rt {
namespace {

// The last whole name of a chain: what follows its last ':' that is not
// part of a "::".
std::string_view last_name(std::string_view chain) {
    for (size_t i = chain.size(); i-- > 0;) {
        if (chain[i] != ':')
            continue;
        const bool double_colon =
            (i > 0 && chain[i - 1] == ':') || (i + 1 < chain.size() && chain[i + 1] == ':');
        if (double_colon) {
            if (i > 0 && chain[i - 1] == ':')
                --i;
            continue;
        }
        return chain.substr(i + 1);
    }
    return chain;
}

// Whether `layout` begins with the members of the runtime's error record.
bool extends_error_record(TypeCode layout) {
    TypeCode base = TC_ExErrorMsg;
    if (layout == base)
        return true;
    if (layout == nullptr || !is_struct_kind(layout->kind) ||
        member_count(layout) < member_count(base) || layout->size < base->size)
        return false;
    for (uint32_t i = 0; i < member_count(base); ++i)
        if (!TypeCode_equal(member_type(layout, i), nullptr, member_type(base, i)))
            return false;
    return true;
}

}  // namespace

struct Exception::State {
    std::string chain;
    void *record = nullptr;
    TypeCode type = nullptr;    // registered under the chain's last name
    TypeCode layout = nullptr;  // what the record is read and freed as
    const ErrorRecord *error = nullptr;
    std::string text;

    ~State() {
        if (record == nullptr)
            return;
        if (layout != nullptr)
            vem_free_generic(record, layout);
        mg_free(record);
    }
};

Exception::Exception(const char *type_chain, void *record) : state_(std::make_shared<State>()) {
    State &s = *state_;
    s.record = record;
    s.chain = type_chain != nullptr ? type_chain : "";
    s.type = prepared(registry_find(last_name(s.chain)));
    s.layout = s.type;
    if (s.layout == nullptr && eh_chain_matches(s.chain.c_str(), EH_ERROR_CHAIN))
        s.layout = TC_ExErrorMsg;
    if (record != nullptr && s.layout != nullptr && is_struct_kind(s.layout->kind) &&
        eh_chain_matches(s.chain.c_str(), EH_ERROR_CHAIN) && extends_error_record(s.layout))
        s.error = static_cast<const ErrorRecord *>(record);
    if (record != nullptr && extends_error_record(s.layout))
        s.text = render_record(record, s.layout);
    else
        s.text = s.chain;
}

Exception::Exception(const Exception &other) noexcept = default;
Exception &Exception::operator=(const Exception &other) noexcept = default;
Exception::~Exception() = default;

const char *Exception::what() const noexcept {
    return state_->text.c_str();
}
const char *Exception::type_chain() const noexcept {
    return state_->chain.c_str();
}
bool Exception::is_a(const char *chain_prefix) const noexcept {
    return eh_chain_matches(state_->chain.c_str(), chain_prefix) != 0;
}
void *Exception::record() const noexcept {
    return state_->record;
}
TypeCode Exception::type() const noexcept {
    return state_->type;
}
const ErrorRecord *Exception::error_record() const noexcept {
    return state_->error;
}

const MessageEntry *Exception::message() const noexcept {
    const ErrorRecord *error = state_->error;
    if (error == nullptr || error->emsg.length == 0 || error->emsg.buffer == nullptr)
        return nullptr;
    return &error->emsg.buffer[0];
}

const char *Exception::catalog() const noexcept {
    const MessageEntry *entry = message();
    return entry != nullptr ? entry->catalog : nullptr;
}

int32_t Exception::number() const noexcept {
    const MessageEntry *entry = message();
    return entry != nullptr ? entry->number : 0;
}

const StringList *Exception::arguments() const noexcept {
    const MessageEntry *entry = message();
    if (entry == nullptr || entry->args.value == nullptr ||
        !TypeCode_equal(entry->args.type, nullptr, TC_Vem_Types_StringList))
        return nullptr;
    return static_cast<const StringList *>(entry->args.value);
}

std::string render_record(const void *record, TypeCode layout) {
    if (!extends_error_record(layout))
        return {};
    const char *format = static_cast<const ErrorRecord *>(record)->default_msg;
    if (format == nullptr)
        format = "%7$M";
    return render_placeholders(format, [&](uint32_t n, char letter, std::string &out) {
        if (n == 0 || n > member_count(layout))
            return false;
        const void *member = nullptr;
        TypeCode type = nullptr;
        for_each_member(layout, [&](uint32_t i, TypeCode t, size_t offset) {
            if (i + 1 == n) {
                member = byte_offset(record, offset);
                type = t;
            }
            return i + 1 < n;
        });
        if (member == nullptr)
            return false;
        switch (type->kind) {
            case tk_string:
            case tk_objref:
                if (const char *text = string_at(member))
                    out += text;
                return true;
            case tk_long:
                out += std::to_string(*static_cast<const int32_t *>(member));
                return true;
            case tk_ulong:
                out += std::to_string(*static_cast<const uint32_t *>(member));
                return true;
            case tk_short:
                out += std::to_string(*static_cast<const int16_t *>(member));
                return true;
            case tk_sequence: {
                if (letter != 'M' || !TypeCode_equal(type, nullptr, TC_Vem_Types_XOpenMessage))
                    return false;
                const auto &list = *static_cast<const MessageList *>(member);
                for (uint32_t i = 0; i < list.length && list.buffer != nullptr; ++i)
                    out += render_entry(list.buffer[i]);
                return true;
            }
            default:
                return false;
        }
    });
}

}  // namespace korvo::rt

extern "C" int eh_chain_matches(const char *chain, const char *prefix) {
    if (chain == nullptr || prefix == nullptr)
        return 0;
    const size_t n = std::strlen(prefix);
    if (std::strncmp(chain, prefix, n) != 0)
        return 0;
    if (chain[n] == '\0' || n == 0)
        return 1;
    return chain[n] == ':' && chain[n + 1] != ':' && prefix[n - 1] != ':' ? 1 : 0;
}
