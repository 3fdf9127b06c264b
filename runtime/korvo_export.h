/* Export and linkage macros shared by every public header of korvo and
 * korvo_runtime. KORVO_EXPORT marks a function or data symbol that leaves the
 * shared object; everything else is hidden. KORVO_BEGIN_DECLS/KORVO_END_DECLS
 * give C linkage to the names between them when the header is read by C++.
 * KORVO_NORETURN marks a function that never returns (it raises).
 *
 * Threads: macros only.
 */
#ifndef KORVO_EXPORT_H
#define KORVO_EXPORT_H

#if defined(_WIN32)
#define KORVO_EXPORT __declspec(dllexport)
#else
#define KORVO_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define KORVO_BEGIN_DECLS extern "C" {
#define KORVO_END_DECLS }
#else
#define KORVO_BEGIN_DECLS
#define KORVO_END_DECLS
#endif

#ifdef __cplusplus
#define KORVO_NORETURN [[noreturn]]
#else
#define KORVO_NORETURN _Noreturn
#endif

#endif
