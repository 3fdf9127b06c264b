/* Locks of the Kes layer (called semaphores in the operation names).
 *
 * A lock created with a name is shared by every process of the machine that
 * creates a lock of the same name: the depot takes "DEPOT", "ENUM" and
 * "ENTRY" around every change of its store. It lives in the POSIX shared
 * memory object "/korvo.<name>", or "/korvo.<namespace>.<name>" when the
 * environment variable KORVO_LOCK_NAMESPACE is set and not empty (test runs
 * use it to keep apart). The object outlives the processes; nothing removes
 * it. On Windows the lock is the named mutex "Global\korvo.<name>" (or
 * "Global\korvo.<namespace>.<name>"), which lives while some process holds
 * a handle on it, and osError is the Windows error (288 for a refused
 * release); the paragraph on objects and their modes is the POSIX hosts'. It is created with mode 0660 (the owner and the group), whatever the
 * umask; an existing object is used only when it holds a lock of this
 * layout (else EPROTO) and belongs to the calling account, or to an account
 * of the caller's group while granting nothing to other accounts (else
 * EACCES); an object of ours that grants other accounts access loses it. A
 * lock created without a name (NULL or "") is private to the process.
 *
 * Every lock is recursive: the holding thread may take it again without
 * blocking and releases it as often as it took it; a release by a thread that
 * does not hold it is refused. When the holder of a lock ends without
 * releasing it (its thread ends or, for a named lock, its process dies), the
 * next taker gets the lock with code KES_WAIT_FAILED, step 3: it holds the
 * lock, which is usable again.
 *
 * Threads: a handle may be shared by the threads of a process; each takes
 * and releases for itself. A named lock is shared by processes.
 *
 * Statuses (code, osError, step): a NULL KesSem address, or a KesSem that is
 * NULL, gives (KES_INVALID, 0, 1). Failed system calls give
 * (KES_SYSTEM_ERROR, errno value, step): step 0 when creating, releasing or
 * closing, step 2 when waiting. osError is the plain errno value (EPERM for a
 * refused release), never errno + 200.
 *
 * Ownership: KesInitSem allocates the handle on the Kes heap; KesDestSem or
 * KesCloseSem releases it. Waits have no time limit. */
#ifndef KORVO_KES_KES_SEM_H
#define KORVO_KES_KES_SEM_H

#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct KesSemCell *KesSem;

/* Creates (or opens, for a name another process already uses) the lock and
 * takes it: on success the caller holds the new lock and releases it with
 * KesPostSem when ready. The status is that of the first wait (0, or
 * KES_WAIT_FAILED step 3 for an abandoned lock, which is held all the same).
 * *sem is NULL on every failure; (KES_NO_MEMORY, errno, 0) when the handle
 * cannot be allocated, (KES_SYSTEM_ERROR, errno, 0) when the lock cannot be
 * created. */
KORVO_EXPORT KesStatus *KesInitSem(KesStatus *status, KesSem *sem, const char *name);
/* Takes the lock, waiting as long as it takes. */
KORVO_EXPORT KesStatus *KesWaitSem(KesStatus *status, KesSem *sem);
/* Releases the lock once; (KES_SYSTEM_ERROR, EPERM, 0) when the calling
 * thread does not hold it. */
KORVO_EXPORT KesStatus *KesPostSem(KesStatus *status, KesSem *sem);
/* Closes the handle and releases it; *sem keeps its old value and must not be
 * used again. A named lock that the caller still holds stays held by the
 * calling thread (other handles of it may release it). A private lock that
 * the calling thread holds is let go first. A private lock that another
 * thread holds is not destroyed under it: (KES_SYSTEM_ERROR, EBUSY, 0), and
 * the handle stays valid for that thread, which releases and closes it; one
 * whose holder ended is closed as usual. */
KORVO_EXPORT KesStatus *KesDestSem(KesStatus *status, KesSem *sem);
/* The same as KesDestSem. */
KORVO_EXPORT KesStatus *KesCloseSem(KesStatus *status, KesSem *sem);

KORVO_END_DECLS

#endif
