/* The channel between a method process and its gateway: one Unix-domain
 * socket of type SOCK_SEQPACKET, found through the environment variable
 * KORVO_GATEWAY:
 *   fd:N     a descriptor the method inherited (the gateway started it)
 *   a path   a socket to connect to
 * The channel connects on first use, once per process. Without the variable
 * (or when it cannot be reached) the channel is absent: receives answer -1,
 * polls 0, sends -1. Packets and their kinds are documented byte by byte in
 * docs/gateway-channel.md.
 *
 * Every wait for the gateway is bounded by KORVO_GATEWAY_TIMEOUT seconds
 * (default 300; 0 waits without limit): a call that waits longer fails. A
 * malformed packet, or the gateway closing the channel before it said that
 * nothing more comes, fails the call and breaks the channel: every later call
 * fails at once. Failures are logged at level 1 ("korvo: gateway channel:
 * ..."); nothing here raises.
 *
 * Ownership: ecp_get_ipc_handle returns the process's channel handle, which
 * stays valid until iom_close. A buffer that ep_korvo_recv or ep_korvo_poll
 * stores is the caller's (mg_free). Data handed to the sends stays the
 * caller's.
 *
 * Threads: every function may be called from any thread. Sends are
 * serialised with each other, receives and polls with each other; a message
 * that arrives while another kind is awaited is kept for its own reader. */
#ifndef KORVO_RUNTIME_GATEWAY_H
#define KORVO_RUNTIME_GATEWAY_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "runtime/stypes.h"

KORVO_BEGIN_DECLS

/* Packet kinds. Up: from the method to the gateway; down: the other way. */
#define GATEWAY_KIND_DATA 11          /* up: one chunk of data sent up */
#define GATEWAY_KIND_STATUS 20        /* up: a method status (GatewayStatus) */
#define GATEWAY_KIND_REPLY 21         /* down: the answer to a status or a chunk */
#define GATEWAY_KIND_END 23           /* up: the end of a transfer; no payload */
#define GATEWAY_KIND_TOC 30           /* up: the stream's encoded modified TOC */
#define GATEWAY_KIND_STREAM 31        /* down: a command byte, then data; empty: end of a segment */
#define GATEWAY_KIND_END_OF_STREAM 32 /* down: nothing more comes; no payload */

/* The largest message the channel carries: longer ones are refused. A
 * message travels as packets of at most 65536 payload bytes. */
#define GATEWAY_MESSAGE_MAX (64 << 20)

/* A runtime I/O handle. The only one the runtime makes is the gateway
 * channel's. */
typedef struct IomHandle IomHandle;

/* A method status: seven 32-bit words (the write path sends all zero). */
typedef struct GatewayStatus {
    int32_t words[7];
} GatewayStatus;

/* The gateway's answer: the kind of the packet it answers, then the granted
 * chunk size, or a negative failure code. */
typedef struct GatewayReply {
    int32_t kind;
    int32_t value;
} GatewayReply;

/* The process's channel to its gateway (connecting on the first call), or
 * NULL when the channel is absent or was closed. */
KORVO_RUNTIME_EXPORT IomHandle *ecp_get_ipc_handle(void);

/* The session id the gateway gave this method: KORVO_GATEWAY_SESSION (a
 * decimal number), or 0. Every packet up carries it. */
KORVO_RUNTIME_EXPORT int32_t ep_session_id(void);

/* Sends `length` bytes at `data` (NULL when length is 0) as one message of
 * `kind` (GATEWAY_KIND_DATA, _END with no data, or _TOC) with `session`. 0,
 * or -1 when the channel fails or the arguments do not fit the kind. */
KORVO_RUNTIME_EXPORT int32_t net_send_protected(IomHandle *handle, const void *data,
                                                uint32_t length, int32_t kind, int32_t session);

/* Sends a method status (`kind` GATEWAY_KIND_STATUS). 0 or -1. */
KORVO_RUNTIME_EXPORT int32_t send_methstat(IomHandle *handle, int32_t kind,
                                           const GatewayStatus *status);

/* Waits for the gateway's next answer (`kind` GATEWAY_KIND_REPLY) and stores
 * it in *reply. 0; -1 when the channel fails or the wait times out, with
 * *reply set to {0, -1}. */
KORVO_RUNTIME_EXPORT int32_t recv_struct(IomHandle *handle, int32_t kind, GatewayReply *reply);

/* The stream's next packet from the gateway. When `toc` is not NULL its bytes
 * are first sent up as the modified TOC of a new stream, and the channel
 * starts over: when the previous stream has not received its end of stream
 * (it was left after its last segment, after a command, or in the middle),
 * that stream's packets, those already kept and those still to come, are
 * dropped up to and including its end of stream, which the gateway sends
 * for every stream it served; then the new stream's packets follow.
 * Returns the packet's size, code byte included, with the packet in *data
 * (an mg block: the code byte, then the data); 0 with *data NULL at an
 * empty packet (the end of a segment) and, from then on, once the gateway
 * said that nothing more comes; -1 with *data NULL when the channel
 * fails. */
KORVO_RUNTIME_EXPORT int32_t ep_korvo_recv(char **data, const OctetList *toc);

/* Without waiting for the gateway: nonzero when a stream packet had arrived,
 * which is then stored in *command (as ep_korvo_recv stores it; an empty
 * packet as one zero byte). With `command` NULL the packet is only looked at
 * and stays for the next receive. 0 when none is there or the channel is
 * absent. */
KORVO_RUNTIME_EXPORT int32_t ep_korvo_poll(char **command);

/* Closes an I/O handle. Closing the gateway channel's handle ends the channel
 * for the rest of the process. NULL is ignored. */
KORVO_RUNTIME_EXPORT void iom_close(IomHandle *handle);

KORVO_END_DECLS

#endif
