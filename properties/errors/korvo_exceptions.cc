// The exception types: their type codes and initialisers, their builders
// and their marshal functions, one set per type from the list in
// korvo_exceptions.h.
#include "properties/errors/korvo_exceptions.h"

#include <iterator>

#include "runtime/generic.h"
#include "runtime/marshal.h"

namespace {

// Fills the member table of an exception type: the runtime error record's
// seven members, and `defer_time` when the table has room for an eighth.
void init_exception(TypeCodeRec *tc) {
    static const struct {
        const char *name;
        TypeCode type;
    } members[] = {{"type_name", TC_string},
                   {"catalog", TC_string},
                   {"key", TC_long},
                   {"default_msg", TC_string},
                   {"time_stamp", TC_long},
                   {"msg_context", TC__sequence_any_MsgContext},
                   {"emsg", TC_Vem_Types_XOpenMessage},
                   {"defer_time", TC_long}};
    const uint32_t count = (tc->member_words - 1) / 2;
    for (uint32_t i = 0; i < count && i < std::size(members); ++i) {
        tc->members[1 + 2 * i].name = members[i].name;
        tc->members[2 + 2 * i].type = members[i].type;
    }
    tc->members[0].name = tc->name;
    tc_set_ready(tc);
}

// The members every exception record shares, in either direction.
template <typename Record>
bool marshal_common(AdrBuffer *buffer, Record *record) {
    return adr_v_string(buffer, &record->type_name) && adr_v_string(buffer, &record->catalog) &&
           adr_v_long(buffer, &record->key) && adr_v_string(buffer, &record->default_msg) &&
           adr_v_long(buffer, &record->time_stamp) &&
           adr_v_tc_sequence(buffer, TC__sequence_any_MsgContext, &record->msg_context) &&
           adr_v_Vem_Types_XOpenMessage(buffer, &record->emsg);
}

int marshal_record(AdrBuffer *buffer, ExKorvoException *record) {
    if (record == nullptr || !adr_start_struct(buffer))
        return 0;
    const bool ok = marshal_common(buffer, record);
    return adr_end_struct(buffer) && ok ? 1 : 0;
}

int marshal_record(AdrBuffer *buffer, ExDistributionDeferred *record) {
    if (record == nullptr || !adr_start_struct(buffer))
        return 0;
    const bool ok = marshal_common(buffer, record) && adr_v_long(buffer, &record->defer_time);
    return adr_end_struct(buffer) && ok ? 1 : 0;
}

// generic_create stops at the first NULL member pointer, so absent lists
// are passed as empty ones.
const AnyList kNoContext{};
const MessageList kNoMessages{};

template <typename Record, typename... Extra>
Record *create_record(TypeCode tc, const char *type_name, const char *catalog, int32_t key,
                      const char *default_msg, int32_t time_stamp, const AnyList *msg_context,
                      const MessageList *emsg, const Extra *...extra) {
    return static_cast<Record *>(generic_create(
        tc, &type_name, &catalog, &key, &default_msg, &time_stamp,
        msg_context != nullptr ? msg_context : &kNoContext, emsg != nullptr ? emsg : &kNoMessages,
        extra..., static_cast<const void *>(nullptr)));
}

}  // namespace

#define KORVO_MEMBER_WORDS_COMMON 15
#define KORVO_MEMBER_WORDS_DEFERRED 17

#define KORVO_DEFINE_EXCEPTION(T, layout)                                                          \
    namespace {                                                                                    \
    TcWord T##_members[KORVO_MEMBER_WORDS_##layout] = {{.init = init_exception}};                  \
    }                                                                                              \
    extern "C" {                                                                                   \
    TypeCodeRec TC_Vem_Korvo2_##T[1] = {                                                           \
        {"Vem_Korvo2::" #T, TC_STATE_UNFILLED, tk_struct, sizeof(KORVO_EXCEPTION_RECORD_##layout), \
         adr_v_Vem_Korvo2_##T, KORVO_MEMBER_WORDS_##layout, T##_members}};                         \
    int adr_v_Vem_Korvo2_##T(AdrBuffer *buffer, void *record) {                                    \
        return marshal_record(buffer, static_cast<KORVO_EXCEPTION_RECORD_##layout *>(record));     \
    }                                                                                              \
    }

KORVO_DEFINE_EXCEPTION(ExKorvoException, COMMON)
KORVO_EXCEPTION_CHILDREN(KORVO_DEFINE_EXCEPTION)

// Builders: the deferred type takes its defer time as a last argument.
#define KORVO_CREATE_ARGUMENTS                                                        \
    const char *type_name, const char *catalog, int32_t key, const char *default_msg, \
        int32_t time_stamp, const AnyList *msg_context, const MessageList *emsg
#define KORVO_CREATE_PASS type_name, catalog, key, default_msg, time_stamp, msg_context, emsg
#define KORVO_CREATE_COMMON(T)                                                        \
    extern "C" ExKorvoException *create_Vem_Korvo2_##T(KORVO_CREATE_ARGUMENTS) {      \
        return create_record<ExKorvoException>(TC_Vem_Korvo2_##T, KORVO_CREATE_PASS); \
    }
#define KORVO_CREATE_DEFERRED(T)                                                           \
    extern "C" ExDistributionDeferred *create_Vem_Korvo2_##T(KORVO_CREATE_ARGUMENTS,       \
                                                             int32_t defer_time) {         \
        return create_record<ExDistributionDeferred>(TC_Vem_Korvo2_##T, KORVO_CREATE_PASS, \
                                                     &defer_time);                         \
    }
#define KORVO_DEFINE_CREATE(T, layout) KORVO_CREATE_##layout(T)

KORVO_DEFINE_CREATE(ExKorvoException, COMMON)
KORVO_EXCEPTION_CHILDREN(KORVO_DEFINE_CREATE)
