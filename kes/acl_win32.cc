// The translation between Kes entries and a Windows DACL: rights words and
// access masks, reading the entries in order, and building and storing a new
// list through SetEntriesInAclW and SetNamedSecurityInfoW.
#include "kes/acl_win32.hpp"

#include <aclapi.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "kes/host_handle_win32.hpp"
#include "kes/kes_acl_entries.hpp"
#include "kes/kes_status.hpp"

namespace korvo::kes::win32 {

namespace {

using korvo::kes::FillStatus;
using korvo::kes::kSystemErrorBase;

KesStatus *WindowsError(KesStatus *status, DWORD error, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + static_cast<int32_t>(error),
                      step);
}

// The rights the three shared: reading the security descriptor and waiting
// on the file. A denying entry leaves them out unless it denies everything,
// so that an account denied writing can still open the file to read it.
constexpr ACCESS_MASK kSharedStandardRights = READ_CONTROL | SYNCHRONIZE;

GENERIC_MAPPING FileMapping() {
    return GENERIC_MAPPING{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                           FILE_ALL_ACCESS};
}

}  // namespace

ACCESS_MASK AccessOfRights(int32_t rights) {
    const bool read = (rights & KES_FILE_PERMISSION_READ_ANY) != 0;
    const bool write = (rights & KES_FILE_PERMISSION_WRITE_ANY) != 0;
    const bool execute = (rights & KES_FILE_PERMISSION_EXECUTE_ANY) != 0;
    if (read && write && execute)
        return FILE_ALL_ACCESS;
    ACCESS_MASK access = 0;
    if (execute)
        access |= FILE_GENERIC_EXECUTE;
    if (write)
        access |= FILE_GENERIC_WRITE;
    if (read)
        access |= FILE_GENERIC_READ;
    return access;
}

int32_t RightsOfAllowed(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping = FileMapping();
    ::MapGenericMask(&mask, &mapping);
    int32_t rights = 0;
    if ((mask & FILE_GENERIC_EXECUTE) == FILE_GENERIC_EXECUTE)
        rights |= KES_FILE_PERMISSION_EXECUTE;
    if ((mask & FILE_GENERIC_WRITE) == FILE_GENERIC_WRITE)
        rights |= KES_FILE_PERMISSION_WRITE;
    if ((mask & FILE_GENERIC_READ) == FILE_GENERIC_READ)
        rights |= KES_FILE_PERMISSION_READ;
    return rights;
}

int32_t RightsOfDenied(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping = FileMapping();
    ::MapGenericMask(&mask, &mapping);
    // A right is denied as soon as its essential bit is: reading the data,
    // writing or appending it, running it.
    int32_t rights = KES_FILE_PERMISSION_DENY;
    if ((mask & FILE_READ_DATA) != 0)
        rights |= KES_FILE_PERMISSION_READ;
    if ((mask & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0)
        rights |= KES_FILE_PERMISSION_WRITE;
    if ((mask & FILE_EXECUTE) != 0)
        rights |= KES_FILE_PERMISSION_EXECUTE;
    return rights;
}

size_t AclEntryCount(PACL dacl) {
    return dacl != nullptr ? dacl->AceCount : 0;
}

KesStatus *CollectAclEntries(KesStatus *status, PACL dacl, KesAclEntry *entries, size_t *count) {
    const size_t room = *count;
    *count = 0;
    FillStatus(status, KES_OK, 0, 0);
    for (DWORD index = 0; index < AclEntryCount(dacl) && *count < room; ++index) {
        void *ace = nullptr;
        if (!::GetAce(dacl, index, &ace)) {
            WindowsError(status, ::GetLastError(), 4);
            continue;
        }
        const ACE_HEADER *header = static_cast<const ACE_HEADER *>(ace);
        // Entries only for the files and folders below a folder say nothing
        // about the file itself.
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        PSID sid;
        ACCESS_MASK mask;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
            sid = &allowed->SidStart;
            mask = allowed->Mask;
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto *denied = static_cast<ACCESS_DENIED_ACE *>(ace);
            sid = &denied->SidStart;
            mask = denied->Mask;
        } else {
            continue;
        }
        KesAclEntry &out = entries[*count];
        if (const DWORD error = AccountNameOfSid(sid, out.name, sizeof(out.name)); error != 0) {
            WindowsError(status, error, 5);
            continue;
        }
        out.rights = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? RightsOfAllowed(mask)
                                                                : RightsOfDenied(mask);
        ++*count;
    }
    return status;
}

KesStatus *StoreAclEntries(KesStatus *status, const KesAclEntry *entries, size_t count,
                           const char *path) {
    std::vector<EXPLICIT_ACCESS_W> records;
    // BuildExplicitAccessWithNameW keeps the name's address: the names live
    // here until the list is made.
    std::vector<std::wstring> names;
    try {
        records.reserve(count);
        names.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const KesAclEntry &wanted = entries[i];
            const void *end = std::memchr(wanted.name, '\0', sizeof(wanted.name));
            if (end == nullptr)
                return WindowsError(status, ERROR_INVALID_NAME, 4);
            const int32_t rights = CanonicalRights(wanted.rights);
            const bool denies = (rights & KES_FILE_PERMISSION_DENY) != 0;
            ACCESS_MASK access = AccessOfRights(rights);
            // An allowing entry without rights allows nothing: it is left
            // out. A denying one without rights denies everything.
            if (!denies && access == 0)
                continue;
            if (denies)
                access = access == 0 || access == FILE_ALL_ACCESS ? FILE_ALL_ACCESS
                                                                  : access & ~kSharedStandardRights;
            names.emplace_back();
            if (!host::WideOfUtf8(wanted.name, &names.back()))
                return WindowsError(status, ERROR_INVALID_NAME, 4);
            EXPLICIT_ACCESS_W record{};
            ::BuildExplicitAccessWithNameW(&record, names.back().data(), access,
                                           denies ? DENY_ACCESS : SET_ACCESS, NO_INHERITANCE);
            records.push_back(record);
        }
    } catch (const std::bad_alloc &) {
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    }
    PACL made = nullptr;
    if (const DWORD error =
            ::SetEntriesInAclW(static_cast<ULONG>(records.size()),
                               records.empty() ? nullptr : records.data(), nullptr, &made);
        error != ERROR_SUCCESS)
        return error == ERROR_NOT_ENOUGH_MEMORY ? FillStatus(status, KES_NO_MEMORY, 0, 3)
                                                : WindowsError(status, error, 4);
    LocalBlock<ACL> fresh(made);
    if (!fresh) {
        // No entries: a list that allows nothing, never a missing list
        // (which would allow everything).
        fresh.reset(static_cast<ACL *>(::LocalAlloc(LMEM_FIXED, sizeof(ACL))));
        if (!fresh)
            return FillStatus(status, KES_NO_MEMORY, 0, 3);
        if (!::InitializeAcl(fresh.get(), sizeof(ACL), ACL_REVISION))
            return WindowsError(status, ::GetLastError(), 4);
    }
    // The list replaces the file's: entries inherited from its folder are
    // not merged back in.
    std::wstring target;
    if (const DWORD error = WidePathOrError(path, &target); error != 0)
        return WindowsError(status, error, 5);
    if (const DWORD error =
            ::SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, fresh.get(), nullptr);
        error != ERROR_SUCCESS)
        return WindowsError(status, error, 5);
    return FillStatus(status, KES_OK, 0, 0);
}

}  // namespace korvo::kes::win32
