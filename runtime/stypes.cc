// The runtime's standard type codes and its standard repository. Their
// member tables are complete from the start (TC_STATE_STATIC): within the
// runtime the addresses of other codes are constants.
#include "runtime/stypes.h"

#include "runtime/marshal.h"

namespace {

TcWord octet_list_members[2] = {{.type = TC_octet}, {.bound = &_any_bound_zero}};
TcWord string_list_members[2] = {{.type = TC_string}, {.bound = &_any_bound_zero}};
TcWord msg_context_members[2] = {{.type = TC_any}, {.bound = &_any_bound_zero}};
TcWord message_list_members[2] = {{.type = TC_Vem_Types_XOpenMessageEntry},
                                  {.bound = &_any_bound_zero}};
TcWord object_members[1] = {{.name = "Object"}};

TcWord message_entry_members[9] = {
    {.name = "Vem_Types::XOpenMessageEntry"},
    {.name = "catalog"},
    {.type = TC_string},
    {.name = "default_msg"},
    {.type = TC_string},
    {.name = "number"},
    {.type = TC_long},
    {.name = "args"},
    {.type = TC_any},
};

TcWord error_record_members[15] = {
    {.name = "ExErrorMsg"},
    {.name = "type_name"},
    {.type = TC_string},
    {.name = "catalog"},
    {.type = TC_string},
    {.name = "key"},
    {.type = TC_long},
    {.name = "default_msg"},
    {.type = TC_string},
    {.name = "time_stamp"},
    {.type = TC_long},
    {.name = "msg_context"},
    {.type = TC__sequence_any_MsgContext},
    {.name = "emsg"},
    {.type = TC_Vem_Types_XOpenMessage},
};

TcWord standard_types[] = {
    {.name = "string"},
    {.type = TC_string},
    {.name = "long"},
    {.type = TC_long},
    {.name = "short"},
    {.type = TC_short},
    {.name = "ulong"},
    {.type = TC_ulong},
    {.name = "boolean"},
    {.type = TC_boolean},
    {.name = "octet"},
    {.type = TC_octet},
    {.name = "any"},
    {.type = TC_any},
    {.name = "Object"},
    {.type = TC_Object},
    {.name = "Vem_Types::OctetList"},
    {.type = TC_Vem_Types_OctetList},
    {.name = "Vem_Types::StringList"},
    {.type = TC_Vem_Types_StringList},
    {.name = "_sequence_any_MsgContext"},
    {.type = TC__sequence_any_MsgContext},
    {.name = "Vem_Types::XOpenMessageEntry"},
    {.type = TC_Vem_Types_XOpenMessageEntry},
    {.name = "Vem_Types::XOpenMessage"},
    {.type = TC_Vem_Types_XOpenMessage},
    {.name = "ExErrorMsg"},
    {.type = TC_ExErrorMsg},
    {.name = nullptr},
};

}  // namespace

extern "C" {

const uint32_t _any_bound_zero = 0;

TypeCodeRec TC_string[1] = {
    {"string", TC_STATE_STATIC, tk_string, sizeof(char *), nullptr, 0, nullptr}};
TypeCodeRec TC_long[1] = {{"long", TC_STATE_STATIC, tk_long, sizeof(int32_t), nullptr, 0, nullptr}};
TypeCodeRec TC_short[1] = {
    {"short", TC_STATE_STATIC, tk_short, sizeof(int16_t), nullptr, 0, nullptr}};
TypeCodeRec TC_ulong[1] = {
    {"ulong", TC_STATE_STATIC, tk_ulong, sizeof(uint32_t), nullptr, 0, nullptr}};
TypeCodeRec TC_boolean[1] = {
    {"boolean", TC_STATE_STATIC, tk_boolean, sizeof(uint8_t), nullptr, 0, nullptr}};
TypeCodeRec TC_octet[1] = {
    {"octet", TC_STATE_STATIC, tk_octet, sizeof(uint8_t), nullptr, 0, nullptr}};
TypeCodeRec TC_any[1] = {{"any", TC_STATE_STATIC, tk_any, sizeof(Any), nullptr, 0, nullptr}};
TypeCodeRec TC_Object[1] = {
    {"Object", TC_STATE_STATIC, tk_objref, sizeof(ObjectRef), adr_v_Object, 1, object_members}};

TypeCodeRec TC_Vem_Types_OctetList[1] = {{"Vem_Types::OctetList", TC_STATE_STATIC, tk_sequence,
                                          sizeof(OctetList), adr_v_dummy, 2, octet_list_members}};
TypeCodeRec TC_Vem_Types_StringList[1] = {{"Vem_Types::StringList", TC_STATE_STATIC, tk_sequence,
                                           sizeof(StringList), adr_v_dummy, 2,
                                           string_list_members}};
TypeCodeRec TC__sequence_any_MsgContext[1] = {{"_sequence_any_MsgContext", TC_STATE_STATIC,
                                               tk_sequence, sizeof(AnyList), adr_v_dummy, 2,
                                               msg_context_members}};
TypeCodeRec TC_Vem_Types_XOpenMessageEntry[1] = {{"Vem_Types::XOpenMessageEntry", TC_STATE_STATIC,
                                                  tk_struct, sizeof(MessageEntry), adr_v_dummy, 9,
                                                  message_entry_members}};
TypeCodeRec TC_Vem_Types_XOpenMessage[1] = {{"Vem_Types::XOpenMessage", TC_STATE_STATIC,
                                             tk_sequence, sizeof(MessageList), adr_v_dummy, 2,
                                             message_list_members}};
TypeCodeRec TC_ExErrorMsg[1] = {{"ExErrorMsg", TC_STATE_STATIC, tk_struct, sizeof(ErrorRecord),
                                 adr_v_dummy, 15, error_record_members}};

TypeRepository stypes_type_repository[1] = {{standard_types, nullptr}};
TypeRepository type_repository_null[1] = {{nullptr, nullptr}};
}
