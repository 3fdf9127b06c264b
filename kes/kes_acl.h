/* File security of the Kes layer: setting a file's owner by account name
 * (KesFileGetOwner in kes_file.h reads it), the owner's read and write
 * permissions, and the file's access list as an array of (account name,
 * rights) entries that can be read, replaced whole, or changed for one
 * account. Groups are not supported: KesFileSetGroup and KesFileGetGroup
 * always answer -1, 0, 0.
 *
 * Nothing here allocates for the caller; the caller provides the entry
 * arrays. Every operation takes the caller's status first, fills it and
 * returns it; statuses are written (code, osError, step), and "errno + 200"
 * marks a call that replaces a host security call.
 * Paths must be native (on this host every path is) and are followed when
 * they are symbolic links.
 *
 * Threads: any thread may call these operations; they keep no state and hold
 * no locks. Grant and revoke read, change and write the list back, so two
 * threads or processes changing one file's list at once may lose one of the
 * changes.
 *
 * How access lists map onto POSIX ACLs
 *   - An entry is a named-user entry of the file's access ACL; its name is
 *     the user's account name. The rights word, when set: any of 0x7 gives r,
 *     any of 0x70 w, any of 0x700 x. When read: 0x1, 0x10 and 0x100 for the
 *     rights the account holds in full, that is the entry's permissions
 *     within the ACL's mask.
 *   - A denying entry (0x8000) is a named-user entry without permissions: it
 *     keeps the account from the rights of the owning group and of others.
 *     An entry that holds no right, whatever the mask, reads as exactly
 *     0x8000. An allowing entry without rights grants nothing, so it is not
 *     stored at all: the account then falls back to the group and other
 *     entries.
 *   - KesFileSetAcl replaces every named-user entry. The ACL's other entries
 *     are kept as they are, within the old mask: where the mask narrowed the
 *     owning group or a named group, their entries are narrowed to what they
 *     effectively held. The mask is then recomputed as the union of the
 *     group-class entries (as setfacl does), so that every listed account
 *     holds the rights it was given; without named entries the ACL becomes
 *     the file's plain mode bits again.
 *
 * What the mapping cannot express
 *   - The owner ("user::"), owning group ("group::") and other ("other::")
 *     entries and the mask are neither reported nor set through the list;
 *     the owner's read and write bits are KesFileSetPermissions' business.
 *   - Named groups: they are not reported and the list cannot name them (an
 *     account name is looked up as a user); KesFileSetAcl keeps them.
 *   - A partial deny: a denying entry refuses the account every right, not
 *     only the rights in its word, and an account has at most one entry, so
 *     it cannot be allowed some rights and denied others. A revoke from an
 *     account without an entry therefore allows the account what it held
 *     through the owner, group and other entries less the rights revoked
 *     (denying only when nothing is left), and a revoke from the file's
 *     owner changes the owner's entry.
 *   - An entry naming the file's owner is stored as a named-user entry, which
 *     POSIX access checks never consult for the owner.
 *   - Entries are not ordered by the caller: the ACL lists named users by
 *     account number. Two entries for one account are refused.
 *   - Default (inherited) ACLs of directories are neither read nor changed.
 *   - A file system without ACLs has no named entries to report; storing
 *     any list there fails with EOPNOTSUPP + 200.
 *
 * Setting an owner is chown and needs the privilege to change owners (the
 * CAP_CHOWN capability). When the calling thread holds it only as permitted,
 * it is raised for the change and lowered again afterwards; capabilities
 * belong to each thread, so other threads are not affected. */
#ifndef KORVO_KES_KES_ACL_H
#define KORVO_KES_KES_ACL_H

#include <stddef.h>
#include <stdint.h>

#include "kes/kes_file.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Bits of the rights word. When setting, any bit of a *_ANY mask asks for the
 * right; when reading, each right is reported by its single bit
 * (KES_FILE_PERMISSION_READ 0x1, KES_FILE_PERMISSION_WRITE 0x10 of kes_file.h,
 * and KES_FILE_PERMISSION_EXECUTE). */
#define KES_FILE_PERMISSION_EXECUTE 0x100
#define KES_FILE_PERMISSION_DENY 0x8000 /* the entry denies rather than allows */
#define KES_FILE_PERMISSION_READ_ANY 0x7
#define KES_FILE_PERMISSION_WRITE_ANY 0x70
#define KES_FILE_PERMISSION_EXECUTE_ANY 0x700

/* One entry of a file's access list. */
typedef struct KesAclEntry {
    char name[KES_FILE_ACCOUNT_SIZE]; /* account name, NUL-terminated */
    int32_t rights;                   /* the rights word above */
} KesAclEntry;

/* Makes the account `account` the owner of the file at `path`.
 *   NULL account or path: 21, 0, 1; not native: 21, 0, 2;
 *   the thread's privileges cannot be read: -4, errno + 200, 3;
 *   the privilege to change owners cannot be had: -4, errno + 200, 4
 *   (EPERM + 200 for an account without it);
 *   no such account: -4, ENOENT + 200, 5 (another errno + 200 when the
 *   account database fails);
 *   the owner cannot be set: -4, errno + 200, 6. */
KORVO_EXPORT KesStatus *KesFileSetOwner(KesStatus *status, const char *account, const char *path);
/* Groups are not supported: -1, 0, 0, and nothing is written. */
KORVO_EXPORT KesStatus *KesFileSetGroup(KesStatus *status, const char *account, const char *path);
KORVO_EXPORT KesStatus *KesFileGetGroup(KesStatus *status, char *name, const char *path,
                                        size_t size);

/* Sets the owner's read bit when `rights` has any of 0x7 and clears it
 * otherwise, and likewise the owner's write bit for 0x70; the execute bits
 * and the permissions of the group and others stay as they are.
 *   NULL path: 21, 0, 1; not native: 21, 0, 2;
 *   the mode cannot be read or changed: -4, errno, 3. */
KORVO_EXPORT KesStatus *KesFileSetPermissions(KesStatus *status, int32_t rights, const char *path);
/* The owner's permissions as KesFileGetInfo reports them (0x1 read, 0x10
 * write) into *rights. NULL path or rights: 21, 0, 1; otherwise the status of
 * KesFileGetInfo. */
KORVO_EXPORT KesStatus *KesFileGetPermissions(KesStatus *status, int32_t *rights, const char *path);

/* Reads the file's account entries into `entries`, which has room for *count
 * of them; *count becomes the number filled. A list longer than the room is
 * cut at the room without an error: a caller that needs the whole list asks
 * again with more room until the count comes back smaller than the room.
 *   NULL path, entries or count: 21, 0, 1; not native: 21, 0, 2;
 *   the ACL cannot be read: -4, errno + 200, 3 (*count 0);
 *   an entry cannot be read: -4, errno + 200, 4;
 *   an entry's account has no name (ENOENT) or its name does not fit
 *   (ERANGE): -4, errno + 200, 5.
 * Failures of single entries do not stop the reading: the entry is left
 * out, the other entries are read, and the last such failure is reported. */
KORVO_EXPORT KesStatus *KesFileGetAcl(KesStatus *status, KesAclEntry *entries, const char *path,
                                      size_t *count);
/* Replaces the file's account entries by the `count` entries given.
 *   NULL path or entries: 21, 0, 1; not native: 21, 0, 2;
 *   no memory: 12, 0, 3;
 *   the new ACL cannot be built: -4, errno + 200, 4 (an account is
 *   unknown, ENOENT; a name is not terminated within its field, or two
 *   entries name one account, EINVAL);
 *   the new ACL cannot be stored: -4, errno + 200, 5 (also when the file's
 *   ACL cannot be read, as for a missing file: ENOENT).
 * The file is unchanged unless the status is 0. */
KORVO_EXPORT KesStatus *KesFileSetAcl(KesStatus *status, const KesAclEntry *entries,
                                      const char *path, size_t count);
/* Gives `account` the rights of `rights`: a denying entry of the account
 * becomes an allowing entry with exactly these rights, an allowing entry
 * gains them, and an account without an entry gets an allowing one.
 *   NULL account or path: 21, 0, 1; not native: 21, 0, 2;
 *   the ACL cannot be read: -4, errno + 200, 3; no memory: 12, 0, 4;
 *   the list cannot be read: its KesFileGetAcl status with step 5 (nothing
 *   is written, so entries that cannot be named are never lost);
 *   the list cannot be written: its KesFileSetAcl status with step 6. */
KORVO_EXPORT KesStatus *KesFileGrantPermission(KesStatus *status, const char *account,
                                               int32_t rights, const char *path);
/* Takes the rights of `rights` from `account`: an allowing entry loses them
 * (and is dropped when none is left), a denying entry stays denying. An
 * account without an entry keeps the other rights it holds through the
 * file's owner, group and other entries: it gets an allowing entry with
 * them (a denying one when none is left), and the file's owner loses the
 * rights from the owner's entry. Statuses as KesFileGrantPermission; the
 * rights of an account without an entry that cannot be worked out (no such
 * account, ENOENT): -4, errno + 200, 6. */
KORVO_EXPORT KesStatus *KesFileRevokePermission(KesStatus *status, const char *account,
                                                int32_t rights, const char *path);

KORVO_END_DECLS

#endif
